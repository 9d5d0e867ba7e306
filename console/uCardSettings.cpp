#include "uCardSettings.h"

#include "uConstType.h"

namespace corvane {

std::vector<TCardKey> CardKeys(TCardSettings& v) {
  std::vector<TCardKey> keys;
  auto add = [&keys](const char* section, std::string key, auto* field) {
    keys.push_back(TCardKey{section, std::move(key), field});
  };
  for (std::size_t i = 0; i < v.katakunci.size(); ++i)
    add("KONFIRMASI", "katakunci" + std::to_string(i + 1), &v.katakunci[i]);
  add("KONFIRMASI", "nomorkonfirmasireset", &v.nomorkonfirmasireset);
  for (std::size_t i = 0; i < v.katakuncimenu.size(); ++i) {
    add("MENU", "katakuncimenu" + std::to_string(i + 1), &v.katakuncimenu[i]);
    add("MENU", "jawabanmenu" + std::to_string(i + 1), &v.jawabanmenu[i]);
  }
  for (std::size_t i = 0; i < v.katakuncidata.size(); ++i) {
    add("DATA", "katakuncidata" + std::to_string(i + 1), &v.katakuncidata[i]);
    add("DATA", "Jawabandata" + std::to_string(i + 1), &v.Jawabandata[i]);
  }
  add("KONFIRMASI", "timeout", &v.timeout);
  add("KONFIRMASI", "KataKunciSMSRegFinish", &v.KataKunciSMSRegFinish);
  add("LAINLAIN", "no2dial", &v.no2dial);
  add("LAINLAIN", "waktudial", &v.waktudial);
  add("LAINLAIN", "no2dial2", &v.no2dial2);
  add("LAINLAIN", "smstextsend", &v.smstextsend);
  add("LAINLAIN", "phpenerimasms", &v.phpenerimasms);
  add("LAINLAIN", "cekpulsa", &v.cekpulsa);
  add("LAINLAIN", "smstextsend2", &v.smstextsend2);
  add("LAINLAIN", "phpenerimasms2", &v.phpenerimasms2);
  add("LAINLAIN", "maxgagal", &v.maxgagal);
  return keys;
}

std::vector<std::string> LimitCardNumbers(TCardSettings& values) {
  const TCardSettings defaults;
  std::vector<std::string> notes;
  for (const TCardRange& r : CardRanges) {
    std::int32_t& v = values.*(r.field);
    if (v >= r.min && v <= r.max) continue;
    notes.push_back(std::string(r.key) + " = " + std::to_string(v) + " is outside " + std::to_string(r.min) + ".." +
                    std::to_string(r.max) + "; the default " + std::to_string(defaults.*(r.field)) + " is used");
    v = defaults.*(r.field);
  }
  return notes;
}

std::vector<std::string> LimitCardTexts(TCardSettings& values) {
  std::vector<std::string> notes;
  auto limit = [&notes](const std::string& key, std::string& value, std::size_t most) {
    if (value.size() <= most) return;
    notes.push_back(key + " is " + std::to_string(value.size()) + " bytes, more than the " + std::to_string(most) +
                    " that can be sent; not used");
    value.clear();
  };
  for (const TCardKey& k : CardKeys(values)) {
    auto* text = std::get_if<std::string*>(&k.field);
    if (!text) continue;
    const bool sms = k.key == "smstextsend" || k.key == "smstextsend2";
    const bool sent = sms || k.key.rfind("no2dial", 0) == 0 || k.key.rfind("phpenerimasms", 0) == 0 ||
                      k.key == "cekpulsa" || k.key.rfind("jawabanmenu", 0) == 0 ||
                      k.key.rfind("Jawabandata", 0) == 0;
    if (sent) limit(k.key, **text, sms ? SmsTextLimit : CommandValueLimit);
  }
  return notes;
}

bool CardNameUsable(std::string_view name) {
  if (name.find("..") != std::string_view::npos) return false;
  for (char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

std::string CardIniFileName(std::string_view name) {
  std::string file(CardIniPrefix);
  file += name;
  file += CardIniSuffix;
  return file;
}

}  // namespace corvane
