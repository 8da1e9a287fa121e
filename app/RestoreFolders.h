// The folders a restore writes into, reached from its target folder one component at a time.
//
// Every folder of an entry's name is opened from the handle of the folder above it, made where it
// is missing, and refused when it is a link (platform/Beneath.h): a restore never follows a link,
// also not one planted in the target while it runs. Entries come in archive order, which keeps
// the files of one folder together, so the chain of folders of the last entry stays open and the
// next entry opens only the components that differ. A folder that is renamed, or swapped for a
// link, after it was opened is never looked up by name again: its open handle still leads to the
// folder that was reached without a link.
//
// The files are written into temporaries of their own folder (app/TemporaryFile.h), so only a
// whole entry takes its final name.
#pragma once
#include <string>
#include <vector>

#include "app/Operaciisfaylamiipapkami.h"
#include "foundation/Tstring.h"
#include "platform/win32.h"

class TRestoreFolders {
 public:
  ~TRestoreFolders() { Close(); }
  // The target folder, made with the folders above it where missing (links are followed there:
  // the user named it); "" is the current directory. False with the last error.
  bool Open(const TWideName& target);
  void Close();
  // The folder that holds the file `name` (made where missing) and the name's last component;
  // nullptr with the last error (ERROR_CANT_RESOLVE_FILENAME: a link lies on the way). The handle
  // belongs to this object and stays valid until the next call.
  HANDLE Reach(const WCHAR* name, const WCHAR*& leaf);
  // The archive the restore reads (open as `file`, named `name` in the current directory), which
  // no entry may replace; see IsArchive.
  void KeepOff(HANDLE file, const TWideName& name);
  // Whether the existing item `leaf` of `folder` (open as `item`, or INVALID_HANDLE_VALUE) is the
  // archive (IsSamePlace).
  bool IsArchive(HANDLE folder, const WCHAR* leaf, HANDLE item) const;

 private:
  HANDLE root_ = nullptr;
  TFilePlace archive_;
  std::vector<TWideName> names_;  // the open chain below the target, one component a level
  std::vector<HANDLE> handles_;
};
