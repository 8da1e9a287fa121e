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

class TRun;

// What a walk of an archive is asked to do besides its own job.
struct TArchiveUse {
  bool test = false;     // a listing decodes every entry for its sizes (-t -l)
  TWideName folder;      // where a restore writes (made when missing); empty: the current directory
  TSelection selection;  // the entries to touch (all when empty); a word that selects none fails
  TRunTotals* totals = nullptr;  // receives the entries restored or checked whole and their bytes
};

// Each walks the archive's chain once and returns whether every selected entry up to the end of
// the file was handled whole; false also when the archive cannot be opened or walked (reported).
// An entry that cannot be handled is reported and the walk goes on; an answer No to an overwrite
// question counts as whole.
//   RestoreArchive: every entry restored below the use's folder.
//   TestArchive: every entry decoded and checked, nothing written or asked.
//   ListArchive: one line per entry on standard output, sizes from the trailers (or decoding).
bool RestoreArchive(TRun& run, const TWideName& archiveName, TOknoSostoyaniya* window, TArchiveUse& use);
bool TestArchive(TRun& run, const TWideName& archiveName, TOknoSostoyaniya* window, TArchiveUse& use);
bool ListArchive(TRun& run, const TWideName& archiveName, TOknoSostoyaniya* window, TArchiveUse& use);
