// Walking a folder tree into one compressed file, and restoring a whole compressed file.
//
// Compression lists each folder with "*.*" and goes depth first in the file system's listing
// order: a subfolder is walked completely where it is met. Every file becomes one entry named
// parent path + file name, so every name begins with the top folder's name; folders get no entry
// of their own. A folder link whose target is a folder already being walked (an ancestor, or the
// folder itself) is not walked again, so a link back into the tree cannot make the walk endless.
//
// Restoring walks the chain of entries and recreates each file under its stored name, relative to
// the current directory (the archive's folder) or the folder -d names, when the name may be
// restored (app/Names.h).
#pragma once
#include <cstdint>

#include "app/Names.h"
#include "app/RunSummary.h"
#include "app/Selection.h"
#include "foundation/Tstring.h"
#include "platform/win32.h"
#include "ui/Toknosostoyaniya.h"

uint32_t CountFolderFiles(const TWideName& folder);

// 0 when a folder cannot be listed or a file failed (the walk ends at once), else the counter at
// the end (0 for a tree without files).
uint32_t CompressFolder(HANDLE archive, const TWideName& folder, uint32_t& counter, uint32_t& total,
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
