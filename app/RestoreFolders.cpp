#include "app/RestoreFolders.h"

#include <cstring>
#include <random>

#include "platform/Beneath.h"

namespace {

const char kTemporaryPrefix[] = ".velmora-";
const uint32_t kPrefixLength = sizeof kTemporaryPrefix - 1;
const uint32_t kRandomCharacters = 6;
const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsTemporaryName(const char* name) {
  if (std::strncmp(name, kTemporaryPrefix, kPrefixLength) != 0 || std::strlen(name) != kPrefixLength + kRandomCharacters)
    return false;
  for (uint32_t i = kPrefixLength; name[i] != 0; ++i)
    if (std::strchr(kAlphabet, name[i]) == nullptr) return false;
  return true;
}

}  // namespace

bool TRestoreFolders::Open(const char* target) {
  Close();
  root_ = OpenFolderA(target);
  if (root_ == nullptr && target[0] != 0) {
    // Made from the outside in; a prefix that exists, or a drive, fails and is passed over.
    const std::string path(target);
    for (size_t i = 1; i <= path.size(); ++i)
      if (i == path.size() || IsSeparator(path[i])) CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
    root_ = OpenFolderA(target);
  }
  if (root_ == nullptr) return false;
  if (random_ == 0) random_ = std::random_device{}() | 1;
  DeleteLeftovers(root_, std::string());
  return true;
}

void TRestoreFolders::Close() {
  while (!handles_.empty()) {
    CloseHandle(handles_.back());
    handles_.pop_back();
  }
  names_.clear();
  if (root_ != nullptr) CloseHandle(root_);
  root_ = nullptr;
  cleaned_.clear();
}

HANDLE TRestoreFolders::Reach(const char* name, const char*& leaf) {
  if (root_ == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  std::vector<std::string> wanted;
  const char* start = name;
  for (const char* p = name;; ++p) {
    if (*p == 0) break;
    if (IsSeparator(*p)) {
      wanted.emplace_back(start, size_t(p - start));
      start = p + 1;
    }
  }
  leaf = start;
  size_t kept = 0;
  while (kept < wanted.size() && kept < names_.size() && wanted[kept] == names_[kept]) ++kept;
  while (handles_.size() > kept) {
    CloseHandle(handles_.back());
    handles_.pop_back();
    names_.pop_back();
  }
  std::string path;
  for (size_t i = 0; i < kept; ++i) path += names_[i] + '\\';
  for (size_t i = kept; i < wanted.size(); ++i) {
    HANDLE parent = handles_.empty() ? root_ : handles_.back();
    HANDLE folder = OpenFolderBeneath(parent, wanted[i].c_str(), TRUE);
    if (folder == nullptr) return nullptr;
    handles_.push_back(folder);
    names_.push_back(wanted[i]);
    path += wanted[i] + '\\';
    DeleteLeftovers(folder, path);
  }
  return handles_.empty() ? root_ : handles_.back();
}

HANDLE TRestoreFolders::CreateTemporary(HANDLE folder, char (&name)[kTemporaryNameSize]) {
  std::minstd_rand next(random_);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::memcpy(name, kTemporaryPrefix, kPrefixLength);
    for (uint32_t i = 0; i < kRandomCharacters; ++i) name[kPrefixLength + i] = kAlphabet[next() % (sizeof kAlphabet - 1)];
    name[kPrefixLength + kRandomCharacters] = 0;
    HANDLE file = CreateFileBeneath(folder, name, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW);
    if (file != INVALID_HANDLE_VALUE || (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)) {
      random_ = uint32_t(next()) | 1;
      return file;
    }
  }
  SetLastError(ERROR_FILE_EXISTS);
  return INVALID_HANDLE_VALUE;
}

void TRestoreFolders::DeleteLeftovers(HANDLE folder, const std::string& path) {
  if (!cleaned_.insert(path).second) return;
  WIN32_FIND_DATAA item;
  std::string mask(kTemporaryPrefix);
  mask += '*';
  HANDLE search = FindFirstFileBeneath(folder, mask.c_str(), &item);
  if (search == INVALID_HANDLE_VALUE) return;
  std::vector<std::string> leftovers;
  do {
    if (!(item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsTemporaryName(item.cFileName))
      leftovers.emplace_back(item.cFileName);
  } while (FindNextFileA(search, &item));
  FindClose(search);
  for (const std::string& leftover : leftovers) DeleteFileBeneath(folder, leftover.c_str());
}
