// Temporaries: unnamed where the system allows it, else a fresh CREATE_NEW name; committed by a
// link (never replacing) or by a rename over the file the user agreed to replace.
#include "app/TemporaryFile.h"

#include <random>

#include "platform/Beneath.h"

namespace {

const char kPrefix[] = ".velmora-";
const uint32_t kRandomCharacters = 6;
const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";

bool Taken(DWORD error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

}  // namespace

template <typename TAttempt>
bool TTemporaryFile::WithFreshName(TAttempt attempt) {
  std::minstd_rand next(std::random_device{}() | 1u);  // seeded afresh: no state between calls
  for (int tries = 0; tries < 100; ++tries) {
    for (uint32_t i = 0; i + 1 < sizeof kPrefix; ++i) name_[i] = WCHAR(kPrefix[i]);
    for (uint32_t i = 0; i < kRandomCharacters; ++i)
      name_[sizeof kPrefix - 1 + i] = WCHAR(kAlphabet[next() % (sizeof kAlphabet - 1)]);
    name_[sizeof kPrefix - 1 + kRandomCharacters] = 0;
    if (attempt(name_)) return true;
    if (!Taken(GetLastError())) break;
  }
  const DWORD error = GetLastError();
  name_[0] = 0;
  SetLastError(Taken(error) ? ERROR_FILE_EXISTS : error);
  return false;
}

bool TTemporaryFile::Create(HANDLE folder) {
  Discard();
  folder_ = folder;
  file_ = CreateUnnamedFileBeneath(folder);
  if (file_ != INVALID_HANDLE_VALUE || GetLastError() != ERROR_NOT_SUPPORTED) return file_ != INVALID_HANDLE_VALUE;
  return WithFreshName([&](const WCHAR* name) {
    file_ = CreateFileBeneath(folder, name, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW);
    return file_ != INVALID_HANDLE_VALUE;
  });
}

bool TTemporaryFile::Commit(const WCHAR* name, bool replace) {
  if (file_ == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (name_[0] == 0) {
    // An unnamed file is linked under the name itself when nothing is there, which is atomic and
    // never replaces; to replace, it is linked under a name of its own and renamed over the file
    // in one step of the platform.
    if (LinkFileBeneath(folder_, file_, name)) return Close(name, nullptr, false);
    const bool replaced = replace && Taken(GetLastError()) && WithFreshName([&](const WCHAR* fresh) {
                            return ReplaceWithFileBeneath(folder_, file_, name, fresh) != FALSE;
                          });
    name_[0] = 0;  // the fresh name is gone again either way
    const DWORD error = GetLastError();
    const bool closed = CloseHandle(file_) != FALSE;
    file_ = INVALID_HANDLE_VALUE;
    // The old file is replaced by now: a close that fails is reported, and what was written kept.
    SetLastError(closed ? error : GetLastError());
    return replaced && closed;
  }
  return Close(name_, name, replace);
}

// Closes the file, which is now called `current`, and renames it to `final` unless that is null.
// Every failure leaves nothing of it.
bool TTemporaryFile::Close(const WCHAR* current, const WCHAR* final, bool replace) {
  const bool closed = CloseHandle(file_) != FALSE;
  DWORD error = GetLastError();
  file_ = INVALID_HANDLE_VALUE;
  if (closed && (final == nullptr || MoveFileBeneath(folder_, current, final, replace ? MOVEFILE_REPLACE_EXISTING : 0))) {
    name_[0] = 0;
    return true;
  }
  if (closed) error = GetLastError();
  DeleteFileBeneath(folder_, current);
  name_[0] = 0;
  SetLastError(error);
  return false;
}

void TTemporaryFile::Discard() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
  if (name_[0] != 0) DeleteFileBeneath(folder_, name_);
  name_[0] = 0;
}
