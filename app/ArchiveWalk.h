// What a run does with an archive: restore it, test it or list it. All three walk the chain of
// entries the same way (one walk: progress, cancel, the chain's breaks, the selection, the checks
// of a stored name and of the reserved byte) and differ only in what they do with each entry.
//
// A restore recreates each file under its stored name, relative to the current directory (the
// archive's folder) or the folder -d names, when the name may be restored (app/Names.h).
#pragma once
#include <cstdint>

#include "app/RunSummary.h"
#include "app/Selection.h"
#include "foundation/Tstring.h"
#include "ui/Toknosostoyaniya.h"

// What a run does with an archive: restore it, or only test it (decode and check every entry,
// writing nothing), list it (one line per entry on standard output, sizes from the trailers), or
// both (sizes from decoding).
struct TArchiveUse {
  bool test = false;
  bool list = false;
  TWideName folder;  // where a restore writes (made when missing); empty: the current directory
  TSelection selection;  // the entries to touch (all when empty); a word that selects none fails
  TRunTotals* totals = nullptr;  // receives the entries restored or checked whole and their bytes
};
// False when the archive cannot be opened. complete is set to whether every entry up to the end
// of the file was restored (or tested) whole; answers No to an overwrite question count as
// complete. An entry that cannot be restored is reported and skipped; the walk goes on.
bool RestoreArchive(const TWideName& archiveName, TOknoSostoyaniya* window, bool& askBeforeOverwrite,
                    bool& complete, TArchiveUse use = TArchiveUse());
