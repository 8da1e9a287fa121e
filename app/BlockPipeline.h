// Blocks of a run go through the engine on worker threads and come back in the order they were
// given.
//
// The thread that owns the run reads a block into a free slot, submits it, and takes the slots
// back oldest first, waiting for a slot's result only when it needs it (and restoring small
// blocks that no worker has begun while it waits); it alone touches files, names and windows. A
// worker takes the next submitted slot, runs the engine on the slot's own buffers (compressing in
// a work area that it obtains once and keeps for the run) and marks the slot done. Results are
// taken in submission order and a block's bytes depend only on the block, so what the jobs write
// is the same whatever the number of workers. The blocks in flight hold at most a window per
// worker and one more (which the run's thread fills while the workers are busy), so the memory in
// flight is bounded whatever the input; small blocks (small files) may be more, up to four per
// worker and one, so that one large block ahead of them does not idle the others, and compressing
// with a window above 64 KiB, twelve more per worker in slots of their own size. With one worker
// there is no thread: a slot is processed when it is submitted.
#pragma once
#include <cstdint>

#include "engine/BlockCheck.h"

enum TBlockTask : uint8_t { BlockCompress, BlockRestore };

struct TBlockSlot {
  // input: the block (compressing) or the payload (restoring); output directly after it, with
  // room for the engine's bound and for two windows. A payload longer than the window may run
  // into output, as in the run's own buffer.
  uint8_t* input = nullptr;
  uint8_t* output = nullptr;
  uint32_t inputLength = 0;
  uint32_t outputLength = 0;  // the result's length once done
  bool ok = false;            // the engine's result
  // A checked block: compressing appends the trailer for this seed to the output; restoring
  // checks the payload's trailer and gives the verdict.
  bool checked = false;
  uint64_t seed = 0;
  TBlockVerdict verdict = BlockWhole;
};

class TBlockPipelineState;

class TBlockPipeline {
 public:
  // Starts the workers and slots of `plan` for blocks of up to blockSize bytes; the first slot
  // uses firstBuffer (the run's own buffer), the others get buffers of its size from the memory
  // manager (fewer when it gives fewer). False when no worker can be had; the pipeline then stays
  // stopped.
  // With smallBlocks (compressing), several workers also get slots for blocks of small files;
  // without compression, blocks to compress are stored.
  bool Start(const struct TPipelinePlan& plan, int32_t blockSize, uint8_t* firstBuffer, uint64_t bufferBytes,
             bool smallBlocks, bool compression = true);
  // Waits for the blocks in flight, ends the workers and gives every buffer and work area back.
  void Stop();
  bool Started() const { return state_ != nullptr; }

  // A slot for a block of `length` bytes, or nullptr when every slot, or the bytes allowed in
  // flight, are taken (take the oldest back first).
  TBlockSlot* FreeSlot(uint32_t length);
  // Hands the slot over. A small payload to restore is restored at once on the calling thread,
  // which is quicker than a hand-off when the caller waits for it next. A block read ahead
  // (handOff) always goes to a worker, and waits until Flush wakes the workers for all of them
  // at once (a wake-up is a system call).
  void Submit(TBlockSlot* slot, TBlockTask task, uint32_t inputLength, bool handOff = false);
  void Flush();
  // Whether there are workers and at least half the slots are free (by their count alone).
  bool HalfFree() const;
  // The oldest slot in flight once its result is in, or nullptr when none is in flight. It stays
  // in flight until Release. Small payloads to restore that no worker has begun are restored on
  // the calling thread while it waits.
  TBlockSlot* Oldest();
  void Release(TBlockSlot* slot);
  // Drops every slot in flight: those no worker has begun at once, the others as soon as their
  // searches give up (within milliseconds).
  void Discard();
  // Async-signal-safe: every block from now on fails at once (a quit signal ends the run).
  static void AbandonAll();

 private:
  TBlockPipelineState* state_ = nullptr;
};

// The bytes of a slot for blocks of up to blockSize bytes: the block, then an output area for the
// engine's bound or two windows, whichever is more.
uint64_t SlotBytes(uint32_t blockSize);

// The workers a run would like: VELMORA_THREADS when it is set to a number from 1 to 64, otherwise
// one per processor the process may run on (one for blocks too small to hand over).
uint32_t RunWorkerCount(int32_t blockSize);

// How many workers and slot buffers a run uses. Together they stay within the memory budget:
// each slot holds slotBytes, each worker a work area of up to workBytes (compressing; restoring
// needs none). A large window means fewer workers and fewer slots, never fewer than one worker
// with one slot: a run always runs. With one worker there is one slot and no thread. Several
// workers keep up to four slots each and one more, so that small blocks flow past a large one.
struct TPipelinePlan {
  uint32_t workers;
  uint32_t slots;
};
TPipelinePlan PlanPipeline(uint32_t wantedWorkers, uint64_t slotBytes, uint64_t workBytes, uint64_t budget);
// The budget: a quarter of the physical memory, and on a 32-bit build no more than 1.25 GiB of
// its 2 GiB of address space.
uint64_t PipelineMemoryBudget();
