#pragma once
// Counting the running copies of one program, with locks the kernel drops
// when a copy ends in any way (normal exit, crash, kill -9).
//
// Every program key has a folder in the per-user runtime folder
// ($XDG_RUNTIME_DIR, else /tmp/corvane-<uid>; created 0700 and used only when
// it is ours and closed to others). The folder holds one lock file per slot;
// a copy counts by holding an exclusive lock on one of them for its life, so
// the count is the number of held slots. Taking a slot is one atomic kernel
// call: copies that start at the same instant cannot take the same slot, and
// at most `slots` copies hold one. Beside the slots, a small record names the
// copy that registered last (its slot and process id), replaced atomically.
//
// Nothing here is shared between threads of one process; call from one
// thread (the GUI thread in both programs).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The program's own executable path, as the kernel names it (symbolic links
// resolved; a " (deleted)" mark left by a replaced binary is dropped).
std::string OwnProgramPath();

// The key of a program path: every "/", "\" and blank removed.
std::string InstanceKey(std::string_view programPath);

// Who registered last: the slot it holds and its process id.
struct InstanceRecord {
  unsigned slot = 0;
  std::uint32_t pid = 0;
};

class InstanceSlot {
 public:
  enum class Outcome {
    Taken,       // this copy holds a slot now
    AllTaken,    // every slot is held by a running copy
    Unavailable  // the folder or a lock file cannot be used: run uncounted
  };

  InstanceSlot() = default;
  ~InstanceSlot();
  InstanceSlot(InstanceSlot&& other) noexcept;
  InstanceSlot& operator=(InstanceSlot&& other) noexcept;
  InstanceSlot(const InstanceSlot&) = delete;
  InstanceSlot& operator=(const InstanceSlot&) = delete;

  // Takes the lowest free slot of 0 .. slots-1 for the key (slots 0 counts
  // as 1: the first copy always runs). On Taken, `out` holds the slot.
  static Outcome Take(const std::string& key, unsigned slots, InstanceSlot& out);

  // The folder that holds the slots of a key ("" when it cannot be made).
  static std::string FolderFor(const std::string& key);

  bool Held() const noexcept { return fd_ >= 0; }
  unsigned Number() const noexcept { return number_; }
  const std::string& Folder() const noexcept { return folder_; }

  // Path of a slot's local socket, beside its lock file.
  static std::string SocketPath(const std::string& folder, unsigned slot);

  // Records this copy (held slot, own pid) as the one that registered last.
  void RecordAsLast() const;
  // The copy that registered last, when a record exists.
  static std::optional<InstanceRecord> ReadLast(const std::string& folder);

  // Gives the slot up (also done by the destructor).
  void Release() noexcept;

 private:
  int fd_ = -1;
  unsigned number_ = 0;
  std::string folder_;
};

}  // namespace platform
