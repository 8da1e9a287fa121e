// The program's main routine: the memory probe, the run from the command line to the exit code,
// and the state that the run shares with the jobs.
#pragma once
#include <cstdint>

#include "app/BlockPipeline.h"

// Exit codes.
enum : int {
  ExitDone = 0,            // the job did all of its work
  ExitFolderMissing = 1,   // the source's folder does not exist or cannot be entered
  ExitOutputRefused = 2,   // the user kept the existing archive, it cannot be created, or it is the source
  ExitUsageOrBuffer = 3,   // usage shown, or the working buffer cannot be had
  ExitIncomplete = 4,      // the job ran but did not do all of its work (failure, damage, cancel)
  ExitNoMemory = 10,       // the start-up memory probe failed
};

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

// Creates and frees a 10-byte block; on failure shows "Not enough RAM to run application" and
// clears the memory-available flag. Run once after the units have started.
void MemoryProbe();

// The run; returns the process's exit code.
int MainRoutine();

