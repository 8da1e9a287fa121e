// The run's workers: slots with their own buffers, a queue the workers take blocks from, results
// handed back in submission order, and the memory budget that sets how many of each a run gets.
#include "app/BlockPipeline.h"

#include "platform/Process.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/Compression.h"
#include "foundation/Memdiag.h"
#include "platform/win32.h"

namespace {

// Payloads up to this size are restored by the run's thread itself (see Submit).
const uint32_t kInlineRestoreBytes = 16384;
// While the run's thread waits for the oldest block, it restores the blocks no worker has begun,
// up to this size, instead of sleeping (see Oldest).
const uint32_t kHelpRestoreBytes = 65536;

// Compressing with a larger window, each worker also gets small slots for blocks up to kSmallBlock
// (small files): while a large block holds up the oldest place, the small ones behind it keep the
// other workers busy, and these slots cost a fraction of a full one.
const uint32_t kSmallBlock = 65536;
const uint32_t kSmallSlotsPerWorker = 12;

// Blocks in flight are being dropped: the workers' searches give up. quitRequested keeps it set
// after a drop once a quit signal came, since nothing queued after that is wanted. Both are
// lock-free, so a signal handler may set them.
std::atomic<bool> abandonBlocks{false};
std::atomic<bool> quitRequested{false};

struct TSlotState {
  TBlockSlot slot;
  uint32_t capacity = 0;  // the longest block it holds
  TBlockTask task = BlockCompress;
  bool done = false;
  bool inFlight = false;  // submitted and not yet released
  bool ownsBuffer = false;
};

// The engine's work on one slot, in the calling worker's own work area; with compression off
// every block is stored.
void RunTask(TSlotState& s, SBlockWork& work, int32_t blockSize, bool compression) {
  TBlockSlot& slot = s.slot;
  if (s.task == BlockCompress) {
    if (work.prePass == nullptr) CreateBlockWork(work, uint32_t(blockSize));
    work.abandon = &abandonBlocks;
    work.compression = compression;
    slot.ok = slot.checked ? CompressCheckedBlock(work, slot.output, slot.outputLength, slot.input, slot.inputLength,
                                                  slot.seed)
                           : CompressBlockIn(work, slot.output, slot.outputLength, slot.input, slot.inputLength);
  } else if (slot.checked) {
    slot.outputLength = 2 * uint32_t(blockSize);
    slot.verdict = DecompressCheckedBlock(slot.output, slot.outputLength, slot.input, slot.inputLength, slot.seed);
    slot.ok = slot.verdict == BlockWhole;
  } else {
    slot.outputLength = 2 * uint32_t(blockSize);
    slot.ok = DecompressUncheckedBlock(slot.output, slot.outputLength, slot.input, slot.inputLength);
  }
}

}  // namespace

class TBlockPipelineState {
 public:
  int32_t blockSize = 0;
  bool compression = true;
  std::vector<TSlotState> slots;     // the full-size ones first, then the small ones
  size_t fullSlots = 0;
  std::deque<TSlotState*> inFlight;  // oldest first; owned by the run's thread
  std::vector<std::thread> threads;
  SBlockWork inlineWork;             // with one worker, the run's thread compresses here

  std::mutex lock;
  std::condition_variable workArrived;
  std::condition_variable workDone;
  std::deque<TSlotState*> queue;     // submitted, not yet taken by a worker
  bool stopping = false;
  // Who sleeps on the conditions: a wake-up costs a system call, so only a sleeper gets one.
  uint32_t idleWorkers = 0;
  bool ownerWaits = false;

  void Work() {
    KeepQuitSignalsAway();
    SBlockWork work;
    for (;;) {
      TSlotState* s;
      {
        std::unique_lock<std::mutex> guard(lock);
        ++idleWorkers;
        workArrived.wait(guard, [&] { return stopping || !queue.empty(); });
        --idleWorkers;
        if (queue.empty()) break;
        s = queue.front();
        queue.pop_front();
      }
      RunTask(*s, work, blockSize, compression);
      bool wake;
      {
        std::lock_guard<std::mutex> guard(lock);
        s->done = true;
        wake = ownerWaits;
      }
      if (wake) workDone.notify_all();
    }
    FreeBlockWork(work);
  }

  TSlotState* StateOf(TBlockSlot* slot) {
    for (TSlotState& s : slots)
      if (&s.slot == slot) return &s;
    return nullptr;
  }
};

bool TBlockPipeline::Start(const TPipelinePlan& plan, int32_t blockSize, uint8_t* firstBuffer, uint64_t bufferBytes,
                           bool smallBlocks, bool compression) {
  Stop();
  const uint32_t workers = plan.workers;
  if (workers == 0 || plan.slots == 0 || blockSize <= 0 || firstBuffer == nullptr) return false;
  TBlockPipelineState* state = new TBlockPipelineState;
  state->blockSize = blockSize;
  state->compression = compression;
  const uint32_t smallSlots =
      smallBlocks && workers > 1 && uint32_t(blockSize) > kSmallBlock ? kSmallSlotsPerWorker * workers : 0;
  state->slots.resize(plan.slots + smallSlots);
  size_t made = 0;
  for (; made < state->slots.size(); ++made) {
    TSlotState& s = state->slots[made];
    const bool full = made < plan.slots;
    s.capacity = full ? uint32_t(blockSize) : kSmallBlock;
    const uint64_t bytes = full ? bufferBytes : SlotBytes(kSmallBlock);
    uint8_t* buffer = firstBuffer;
    if (made != 0) {
      buffer = nullptr;
      if (bytes <= 0xFFFFFFFFull) Create(buffer, uint32_t(bytes));
      if (buffer == nullptr) break;  // fewer slots still work, with less in flight
      s.ownsBuffer = true;
    }
    s.slot.input = buffer;
    s.slot.output = buffer + s.capacity;
  }
  state->slots.resize(made);
  state->fullSlots = std::min<size_t>(made, plan.slots);
  if (workers > 1 && state->slots.size() > 1) {
    for (uint32_t i = 0; i < workers; ++i) {
      try {
        state->threads.emplace_back([state] { state->Work(); });
      } catch (...) {
        break;  // as many workers as the system gives
      }
    }
  }
  state_ = state;
  return true;
}

void TBlockPipeline::Stop() {
  if (state_ == nullptr) return;
  Discard();
  {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->stopping = true;
  }
  state_->workArrived.notify_all();
  for (std::thread& t : state_->threads) t.join();
  FreeBlockWork(state_->inlineWork);
  for (TSlotState& s : state_->slots)
    if (s.ownsBuffer) Free(s.slot.input);
  delete state_;
  state_ = nullptr;
}

TBlockSlot* TBlockPipeline::FreeSlot(uint32_t length) {
  if (state_ == nullptr) return nullptr;
  // With no threads there is one slot in flight at most: the run's thread does the work itself.
  const size_t capacity = state_->threads.empty() ? 1 : state_->slots.size();
  if (state_->inFlight.size() >= capacity) return nullptr;
  uint64_t bytes = length;
  for (TSlotState* f : state_->inFlight) bytes += f->slot.inputLength;
  const uint64_t budget = uint64_t(state_->threads.size() + 1) * uint32_t(state_->blockSize);
  if (!state_->inFlight.empty() && bytes > budget) return nullptr;
  // The lowest free slot of the smallest capacity that holds the block: the same few buffers serve
  // while blocks are large, and small blocks leave the full-size slots to the large ones.
  TSlotState* best = nullptr;
  for (TSlotState& s : state_->slots)
    if (!s.inFlight && s.capacity >= length && (best == nullptr || s.capacity < best->capacity)) best = &s;
  return best != nullptr ? &best->slot : nullptr;
}

void TBlockPipeline::Submit(TBlockSlot* slot, TBlockTask task, uint32_t inputLength, bool handOff) {
  TSlotState* s = state_->StateOf(slot);
  s->task = task;
  s->slot.inputLength = inputLength;
  s->slot.outputLength = 0;
  s->slot.ok = false;
  s->done = false;
  state_->inFlight.push_back(s);
  s->inFlight = true;
  // A small payload restores in less time than a hand-off to a worker and back costs: it is
  // restored here, in order all the same (its result is taken after those of the blocks before it).
  if (state_->threads.empty() || (task == BlockRestore && !handOff && inputLength <= kInlineRestoreBytes)) {
    RunTask(*s, state_->inlineWork, state_->blockSize, state_->compression);
    s->done = true;
    return;
  }
  bool wake;
  {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->queue.push_back(s);
    wake = !handOff && state_->idleWorkers > 0;
  }
  if (wake) state_->workArrived.notify_one();
}

void TBlockPipeline::Flush() {
  if (state_ == nullptr) return;
  uint32_t wake;
  {
    std::lock_guard<std::mutex> guard(state_->lock);
    wake = uint32_t(std::min<size_t>(state_->idleWorkers, state_->queue.size()));
  }
  if (wake > 1)
    state_->workArrived.notify_all();
  else if (wake == 1)
    state_->workArrived.notify_one();
}

bool TBlockPipeline::HalfFree() const {
  return state_ != nullptr && !state_->threads.empty() && 2 * state_->inFlight.size() <= state_->fullSlots;
}

TBlockSlot* TBlockPipeline::Oldest() {
  if (state_ == nullptr || state_->inFlight.empty()) return nullptr;
  TSlotState* s = state_->inFlight.front();
  std::unique_lock<std::mutex> guard(state_->lock);
  if (!s->done && state_->idleWorkers > 0 && !state_->queue.empty()) state_->workArrived.notify_all();
  // Small payloads to restore that wait in the queue are restored here meanwhile instead of
  // sleeping: a sleep and a wake-up cost about as much as such a block, and the blocks read ahead
  // wait there until the workers are woken for them. Larger blocks, and blocks to compress (which
  // would need a work area of their own here), are left to the workers.
  while (!s->done && !state_->queue.empty()) {
    TSlotState* next = state_->queue.front();
    if (next->task != BlockRestore || next->slot.inputLength > kHelpRestoreBytes) break;
    state_->queue.pop_front();
    guard.unlock();
    RunTask(*next, state_->inlineWork, state_->blockSize, state_->compression);
    guard.lock();
    next->done = true;
  }
  if (!s->done) {
    state_->ownerWaits = true;
    state_->workDone.wait(guard, [s] { return s->done; });
    state_->ownerWaits = false;
  }
  return &s->slot;
}

void TBlockPipeline::Release(TBlockSlot* slot) {
  if (state_ != nullptr && !state_->inFlight.empty() && &state_->inFlight.front()->slot == slot) {
    state_->inFlight.front()->inFlight = false;
    state_->inFlight.pop_front();
  }
}

void TBlockPipeline::Discard() {
  if (state_ == nullptr) return;
  abandonBlocks = true;
  {
    // What no worker has started is dropped as it is.
    std::lock_guard<std::mutex> guard(state_->lock);
    for (TSlotState* s : state_->queue) s->done = true;
    state_->queue.clear();
  }
  while (TBlockSlot* slot = Oldest()) Release(slot);
  abandonBlocks = quitRequested.load();
}

void TBlockPipeline::AbandonAll() {
  quitRequested = true;
  abandonBlocks = true;
}

uint64_t SlotBytes(uint32_t blockSize) {
  const uint64_t twice = 2 * uint64_t(blockSize);
  const uint64_t bound = CompressBoundFor(blockSize);
  return uint64_t(blockSize) + (bound > twice ? bound : twice);
}

uint32_t RunWorkerCount(int32_t blockSize) {
  char text[16];
  const DWORD length = GetEnvironmentVariableA("VELMORA_THREADS", text, sizeof text);
  if (length > 0 && length < sizeof text) {
    char* end = nullptr;
    const long wanted = std::strtol(text, &end, 10);
    if (end != text && *end == 0 && wanted >= 1 && wanted <= 64) return uint32_t(wanted);
  }
  // Blocks this small cost less to compress than to hand to another thread.
  if (blockSize < 4096) return 1;
  uint32_t count = 0;
  DWORD_PTR processMask = 0, systemMask = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask))
    for (; processMask != 0; processMask &= processMask - 1) ++count;
  return count != 0 ? count : 1;
}

TPipelinePlan PlanPipeline(uint32_t wantedWorkers, uint64_t slotBytes, uint64_t workBytes, uint64_t budget) {
  const auto cost = [&](uint64_t workers, uint64_t slots) { return workers * workBytes + slots * slotBytes; };
  uint32_t workers = wantedWorkers != 0 ? wantedWorkers : 1;
  // Each worker needs its work area and a slot of its own, and the run's thread one to fill.
  while (workers > 1 && cost(workers, workers + 1) > budget) --workers;
  if (workers == 1) return {1, 1};
  const uint64_t room = budget - workers * workBytes;
  const uint64_t fit = slotBytes != 0 ? room / slotBytes : 4ull * workers + 1;
  return {workers, uint32_t(std::min<uint64_t>(fit, 4ull * workers + 1))};
}

uint64_t PipelineMemoryBudget() {
  const uint64_t quarter = TotalPhysicalMemory() / 4;
  const uint64_t addressSpace = sizeof(void*) == 4 ? 5ull << 28 : ~0ull;
  return std::min(quarter, addressSpace);
}
