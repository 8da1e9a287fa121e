// The state one run shares with its jobs: the block size, the one working buffer with its input
// and output areas, and the workers that use it. The main routine sets it up; the restore job
// grows it when an archive's blocks need a larger window. Nothing here calls the jobs.
#pragma once
#include <cstdint>

#include "app/BlockPipeline.h"

// Source bytes per block; also bounds the blocks accepted on restore.
extern int32_t BlockSize;
// The largest chunk a checked block may declare: a restore grows its window up to this.
constexpr uint32_t kLargestWindow = 64u << 20;
// One buffer for the whole run: InputArea (BlockSize bytes) directly followed by OutputArea, which
// holds at least 2 x BlockSize bytes and at least the engine's bound for a block of BlockSize.
// Null outside a run.
extern uint8_t* BlockBuffer;
extern uint8_t* InputArea;
extern uint8_t* OutputArea;

// The run's workers, with BlockBuffer as their first slot; started with the buffer.
extern TBlockPipeline BlockPipeline;

// Sets BlockSize and creates BlockBuffer for it (freeing an earlier one), and starts the run's
// workers for `task`, as many as the memory budget allows; false when the size is not positive,
// not representable, or the memory manager cannot give it.
bool AllocateBlockBuffer(int32_t blockSize, TBlockTask task);
void ReleaseBlockBuffer();
