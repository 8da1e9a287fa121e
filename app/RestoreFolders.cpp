// The chain of folder handles below a restore's target, opened one component at a time.
#include "app/RestoreFolders.h"

#include "platform/Beneath.h"

namespace {

template <typename TChar>
bool IsSeparator(TChar c) { return c == '\\' || c == '/'; }

}  // namespace

bool TRestoreFolders::Open(const TWideName& target) {
  Close();
  root_ = OpenOrMakeFolder(target);
  return root_ != nullptr;
}

void TRestoreFolders::Close() {
  while (!handles_.empty()) {
    CloseHandle(handles_.back());
    handles_.pop_back();
  }
  names_.clear();
  if (root_ != nullptr) CloseHandle(root_);
  root_ = nullptr;
  if (archive_.folder != nullptr) CloseHandle(archive_.folder);
  archive_ = TFilePlace();
}

void TRestoreFolders::KeepOff(HANDLE file, const TWideName& name) {
  if (archive_.folder != nullptr) CloseHandle(archive_.folder);
  archive_.file = file;
  archive_.folder = OpenFolderW(WIDE_TEXT(""));
  archive_.leaf = name;
}

bool TRestoreFolders::IsArchive(HANDLE folder, const WCHAR* leaf, HANDLE item) const {
  return IsSamePlace(archive_, folder, leaf, item);
}

HANDLE TRestoreFolders::Reach(const WCHAR* name, const WCHAR*& leaf) {
  if (root_ == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  std::vector<TWideName> wanted;
  const WCHAR* start = name;
  for (const WCHAR* p = name; *p != 0; ++p) {
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
  for (size_t i = kept; i < wanted.size(); ++i) {
    HANDLE parent = handles_.empty() ? root_ : handles_.back();
    HANDLE folder = OpenFolderBeneath(parent, wanted[i].c_str(), TRUE);
    if (folder == nullptr) return nullptr;
    handles_.push_back(folder);
    names_.push_back(wanted[i]);
  }
  return handles_.empty() ? root_ : handles_.back();
}
