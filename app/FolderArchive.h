// Walking a folder tree into one compressed file, and restoring a whole compressed file.
//
// Compression lists each folder with "*.*" and goes depth first in the file system's listing
// order: a subfolder is walked completely where it is met. Every file becomes one entry named
// parent path + file name, so every name begins with the top folder's name; folders get no entry
// of their own. A folder link whose target is a folder already being walked (an ancestor, or the
// folder itself) is not walked again, so a link back into the tree cannot make the walk endless.
//
// Restoring walks the chain of entries and recreates each file under its stored name, relative to
// the current directory (the archive's folder). A stored name is used only when it stays inside
// that folder: not absolute, no drive prefix, no empty, "." or ".." component, and unchanged by the
// round trip through code page 1251.
#pragma once
#include <cstdint>

#include "app/RunSummary.h"
#include "app/Selection.h"
#include "foundation/Tstring.h"
#include "platform/win32.h"
#include "ui/Toknosostoyaniya.h"

uint32_t CountFolderFiles(const TAnsiString& folder);

// 0 when a folder cannot be listed or a file failed (the walk ends at once), else the counter at
// the end (0 for a tree without files).
uint32_t CompressFolder(HANDLE archive, const TAnsiString& folder, uint32_t& counter, uint32_t& total,
                        TOknoSostoyaniya* window, uint64_t& latestTime);

// What a run does with an archive: restore it, or only test it (decode and check every entry,
// writing nothing), list it (one line per entry on standard output, sizes from the trailers), or
// both (sizes from decoding).
struct TArchiveUse {
  bool test = false;
  bool list = false;
  TAnsiString folder;  // where a restore writes (made when missing); empty: the current directory
  TSelection selection;  // the entries to touch (all when empty); a word that selects none fails
  TRunTotals* totals = nullptr;  // receives the entries restored or checked whole and their bytes
};
// False when the archive cannot be opened. complete is set to whether every entry up to the end
// of the file was restored (or tested) whole; answers No to an overwrite question count as
// complete. An entry that cannot be restored is reported and skipped; the walk goes on.
bool RestoreArchive(const TAnsiString& archiveName, TOknoSostoyaniya* window, bool& askBeforeOverwrite,
                    bool& complete, TArchiveUse use = TArchiveUse());

// Why a listed name (one component, code page 1251) cannot be stored, or nullptr when it can: a
// character that the listing shows as '?' because code page 1251 cannot spell it, one that
// Windows forbids, or a name Windows would not take as it is (IsDeviceOrTrimmedName).
const char* UnstorableReason(const char* name);
// Whether Windows would open a device for the name component (CON, PRN, AUX, NUL, COM1 to COM9,
// LPT1 to LPT9, with or without an extension, in any case) or would drop its last character (a
// dot or a space): such names are neither stored nor restored, on every build, so that the
// Windows program never reaches a device or a file of another name through them.
bool IsDeviceOrTrimmedName(const char* component, uint32_t length);
// Whether a stored entry name may be restored; narrow receives its code page 1251 form.
bool IsRestorableName(const WCHAR* name, uint32_t units, TAnsiString& narrow);
