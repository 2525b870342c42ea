// The originals of the files the last replace changed, so "Undo Last Replace" can put them
// back: kept in a private folder (mode 0700) under $XDG_RUNTIME_DIR or the system's temporary
// folder, made at the first file kept and removed, with everything in it, at the next replace
// (Clear) or when the store goes.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "FilePlan.h"

namespace vorn {

// Keep, Written and Forget may be called from several threads at once (files are written in
// parallel); the rest from one.
class UndoStore {
 public:
  UndoStore() = default;
  ~UndoStore();
  UndoStore(const UndoStore&) = delete;
  UndoStore& operator=(const UndoStore&) = delete;

  // Keeps target's original bytes before it is written over; returns 0 or an error number.
  int Keep(const std::string& target, std::string_view original);
  // What the write left at target, kept last; or the write failed and its original goes.
  void Written(const std::string& target, const FileIdentity& now);
  void Forget(const std::string& target);

  struct Outcome {
    std::string path;
    bool restored = false;
    std::string reason;  // why it was left alone
  };
  // Puts back every file still as the replace left it (several at once), then empties the
  // store; waiting is called now and then meanwhile (the window pumps its events there).
  std::vector<Outcome> Undo(const std::function<void()>& waiting = {});
  void Clear();

  size_t Count() const { return entries_.size(); }
  const std::string& Folder() const { return folder_; }

 private:
  struct Entry {
    std::string target;
    std::string kept;  // the original's copy in the folder
    FileIdentity after;
    bool written = false;
  };
  int MakeFolder();
  Entry* Find(const std::string& target);
  static Outcome Restore(const Entry& entry);

  std::mutex mutex_;
  std::string folder_;
  std::vector<Entry> entries_;
  size_t made_ = 0;
};

}  // namespace vorn
