// The file a job writes before it takes its final name: a restored entry, a compressed archive.
//
// A temporary is made so that nothing else can be mistaken for it: a file without a name where the
// system allows it (it vanishes with the process, even a killed one), else a new name made with
// CREATE_NEW, which never opens what was there. It takes its final name only when it is whole, and
// replaces an existing file only when the caller says so (the user's Yes, or -o); a folder, or
// anything that appeared under the name without that word, is never replaced. A run removes only
// temporaries it made itself: nothing is recognised as a temporary by the shape of its name.
#pragma once
#include <cstdint>

#include "platform/win32.h"

class TTemporaryFile {
 public:
  ~TTemporaryFile() { Discard(); }
  // A new temporary in `folder` (a handle of platform/Beneath.h, which must stay open until the
  // temporary is committed or discarded). False with the last error.
  bool Create(HANDLE folder);
  HANDLE Handle() const { return file_; }
  // Closes the temporary and gives it the name `name` in its folder, replacing a file of that
  // name only when `replace`. False with the last error; the temporary is then gone.
  bool Commit(const WCHAR* name, bool replace);
  // Closes the temporary and removes it; nothing when there is none.
  void Discard();

 private:
  static constexpr uint32_t kNameSize = 16;  // ".velmora-" + 6 + terminator
  // Runs `attempt` with fresh names until one is not taken; false with the last error.
  template <typename TAttempt>
  bool WithFreshName(TAttempt attempt);
  bool Close(const WCHAR* current, const WCHAR* final, bool replace);

  HANDLE folder_ = nullptr;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  WCHAR name_[kNameSize] = {0};  // empty while the file has no name
};
