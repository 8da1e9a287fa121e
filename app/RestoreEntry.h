// The restore job: one entry of the open compressed file written back below the restore's target
// folder, asking first when its file exists, with progress and a cancel check once per block.
#pragma once
#include <cstdint>

#include "app/ArchiveFormat.h"
#include "app/RestoreFolders.h"
#include "foundation/Tstring.h"
#include "platform/win32.h"
#include "ui/Toknosostoyaniya.h"

// What became of one entry on restore.
enum TRestoreOutcome {
  RestoreComplete,   // every block restored
  RestoreKept,       // the user kept the existing file; it was not touched
  RestoreDamaged,    // a block was cut, too long, refused by the engine, or could not be written
  RestoreCancelled,  // the user or a signal cancelled; nothing of the entry is left
  RestoreSkipped,    // its folders or file cannot be created where the name leads (a link on the
                     // way, a folder in the way, a name the system refuses): nothing was written
  RestoreHalted,     // the run's working buffer is gone: nothing more can be restored
};

// Answers Yes to the per-file overwrite question during the run (8 bits, wraps).
extern int8_t overwriteYesCount;

// Restores the entry whose header was just read (the reader at its first block) below the folders'
// target, never through a link, into a temporary of the entry's folder, which takes the entry's
// name with the stored time once the entry is whole. An entry damaged in the archive leaves what
// could be restored where no file was; a cancel, a window too small or a failed write leave
// nothing. Every block of a checked entry is checked, on the workers, and a chunk larger than the
// run's window makes the run's buffers grow to it (up to kLargestWindow). Without folders the
// entry is only read, decoded and checked: nothing is asked or written. Every failure is reported
// on one line; restoredBytes grows by the bytes restored.
TRestoreOutcome RestoreEntry(TArchiveReader& archive, const TEntryHeader& header, TRestoreFolders* folders,
                             bool& askBeforeOverwrite, uint64_t& restoredBytes, float base, TOknoSostoyaniya* window,
                             float end = 1.0f);
