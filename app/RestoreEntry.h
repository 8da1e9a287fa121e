// The restore job: one entry of the open compressed file written back below the restore's target
// folder, asking first when its file exists, with progress and a cancel check once per block.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>

#include "app/ArchiveFormat.h"
#include "app/RestoreFolders.h"
#include "app/RunControl.h"
#include "foundation/Tstring.h"
#include "platform/win32.h"
#include "ui/Toknosostoyaniya.h"

class TRun;

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

// The blocks of the entries that follow the one being restored, read from the archive and handed
// to the workers ahead of their turn (entries in flight), so that the blocks of small files are
// decoded on every core while the run's thread writes the files before them. Only the decoding
// comes early: every question, file and report still comes in its entry's turn, in archive order.
//
// Read-ahead blocks wait in the pipeline in archive order behind those of the entry being restored.
// An entry takes its own when its turn comes (Claim) and the walk drops those of an entry that was
// not decoded after all (Forget). Reading ahead stops at the first block it cannot simply read (a
// damaged one, one that needs a larger window, a break in the chain): the entry's own restore
// meets that block in its turn, as it would without read-ahead.
class TReadAhead {
 public:
  // `decodes` says whether the walk will decode the entry of a header (deciding its `checked`).
  TReadAhead(TRun& run, TArchiveReader& archive, std::function<bool(TEntryHeader&)> decodes);
  ~TReadAhead();
  TReadAhead(const TReadAhead&) = delete;
  TReadAhead& operator=(const TReadAhead&) = delete;

  struct TBlock {
    uint64_t entry;      // the entry's offset
    uint64_t readAfter;  // the entry's bytes read once this block was
    uint32_t number;
    uint32_t declared;   // the chunk length its trailer declares (checked entries)
  };
  // Reads ahead, from the entry at `from` on, into the free slots.
  void Fill(uint64_t from);
  // The blocks of `header`'s entry read ahead, moved to `blocks` (oldest first); the entry reads
  // on from `done`. What was read ahead of another entry is dropped first.
  void Claim(const TEntryHeader& header, std::deque<TBlock>& blocks, uint64_t& done, uint32_t& number);
  // Drops the blocks read ahead of the entry at `entry`, which is not decoded after all.
  void Forget(uint64_t entry);
  // Drops every block in flight, read ahead or not.
  void Discard();

 private:
  bool Open(uint64_t at);      // the next entry to decode from `at` on; false (blocked) when none
  bool ReadNext();             // one more block, or the next entry; false when reading stops here

  TRun& run_;
  TArchiveReader& archive_;
  std::function<bool(TEntryHeader&)> decodes_;
  TEntryHeader* header_ = nullptr;  // the entry being read ahead
  uint64_t entry_ = 0, done_ = 0, seed_ = 0;
  uint32_t number_ = 0;
  bool reading_ = false;  // header_ holds the entry read ahead
  bool blocked_ = false;  // a block or header that the entry's own turn must meet
  std::deque<TBlock> blocks_;
};

// Restores the entry whose header ReadEntryHeader just admitted (the reader at its first block) below the folders'
// target, never through a link, into a temporary of the entry's folder, which takes the entry's
// name with the stored time once the entry is whole. An entry damaged in the archive leaves what
// could be restored where no file was; a cancel, a window too small or a failed write leave
// nothing. Every block of a checked entry is checked, on the workers, and a chunk larger than the
// run's window makes the run's buffers grow to it (up to kLargestWindow). Without folders the
// entry is only read, decoded and checked: nothing is asked or written. Every failure is reported
// on one line; restoredBytes grows by the bytes restored. With `ahead`, the entry takes its blocks
// read ahead and, once its own are read, reads ahead of the entries after it. The questions follow
// the run's askBeforeOverwrite, which a Yes to "Overwrite all files?" clears.
TRestoreOutcome RestoreEntry(TRun& run, TArchiveReader& archive, const TEntryHeader& header, TRestoreFolders* folders,
                             uint64_t& restoredBytes, const TProgressSpan& progress, TReadAhead* ahead = nullptr);
