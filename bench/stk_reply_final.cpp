// How the time to judge a SIM Toolkit reply grows with the reply: a card
// that keeps refusing fills a line's buffer with error lines, and the
// judgement must stay linear in their number. Google Benchmark fits the
// growth (the "BigO" row: N for linear; N^2 was what a rescan per error
// line gave, 82 s for 1.6 MB).
//
//   build/bench/stk_reply_final --benchmark_min_time=0.2
#include <benchmark/benchmark.h>

#include <string>

#include "uStkText.h"

namespace {

// n error lines, then the card's quoted text with line feeds in it, no OK.
std::string ErrorReply(std::int64_t n) {
  std::string reply;
  for (std::int64_t i = 0; i < n; ++i) reply += "\r\n+CME ERROR: 518\r\n";
  reply += "\r\n+STGI: 0,\"Sisa pulsa\nAnda\",1\r\n";
  return reply;
}

void ErrorLines(benchmark::State& state) {
  const std::string reply = ErrorReply(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(corvane::stk::ReplyFinal(reply));
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
}

}  // namespace

// 1.6 MB is about 80 000 error lines.
BENCHMARK(ErrorLines)->RangeMultiplier(4)->Range(1 << 8, 1 << 17)->Complexity();

BENCHMARK_MAIN();
