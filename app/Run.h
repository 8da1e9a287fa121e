// One run of the program: what the command line asked of it, its working buffer with the workers
// that use it, the compressed file's writer, and the totals of what its jobs did. The main routine
// makes it and hands it to the jobs, which take everything they share from it and return their
// results; nothing of a run lives anywhere else, so two runs (two tests) never meet.
#pragma once
#include <cstdint>

#include "app/BlockPipeline.h"
#include "app/CompressEntry.h"
#include "app/RunSummary.h"

// The largest chunk a checked block may declare: a restore grows its window up to this.
constexpr uint32_t kLargestWindow = 64u << 20;

class TRun {
 public:
  TRun() = default;
  ~TRun() { ReleaseBlockBuffer(); }
  TRun(const TRun&) = delete;
  TRun& operator=(const TRun&) = delete;

  // Sets BlockSize and creates BlockBuffer for it (freeing an earlier one), and starts the run's
  // workers for `task`, as many as the memory budget allows; false when the size is not positive,
  // not representable, or the memory manager cannot give it.
  bool AllocateBlockBuffer(int32_t blockSize, TBlockTask task);
  void ReleaseBlockBuffer();
  // -s: every block is stored without compression (off: the engine's greedy search, the default).
  void SetCompression(bool enabled) { compression = enabled; }

  bool compression = true;
  // Cleared by -o, and by a Yes to "Overwrite all files?": no more questions in this run.
  bool askBeforeOverwrite = true;
  // Yes answers to the per-file question (8 bits, wraps); the third asks about all files.
  int8_t overwriteYesCount = 0;

  // Source bytes per block; also bounds the blocks accepted on restore.
  int32_t BlockSize = 0;
  // One buffer for the whole run: InputArea (BlockSize bytes) directly followed by OutputArea,
  // which holds at least 2 x BlockSize bytes and at least the engine's bound for a block of
  // BlockSize. Null outside a run.
  uint8_t* BlockBuffer = nullptr;
  uint8_t* InputArea = nullptr;
  uint8_t* OutputArea = nullptr;
  // The workers, with BlockBuffer as their first slot; started with the buffer.
  TBlockPipeline BlockPipeline;

  // The entries being compressed, in archive order, and the files queued so far.
  TArchiveWriter writer{BlockPipeline};
  TRunTotals queued;
};
