// The program's memory manager: zero-filled blocks carved upward from large committed regions,
// each block recorded in an address-ordered table at the start of its region.
#pragma once
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "platform/win32.h"

// One entry of a region's table: offsets from the region's start, so an entry is 12 bytes on
// every build. elementSize 0 marks a free entry.
struct TMemoryEntry {
  uint32_t blockStart;
  uint32_t blockEnd;
  uint32_t elementSize;
};

// The record of one region. The first record (the global one) also carries the manager's lock.
class TMemoryBlocks {
 public:
  explicit TMemoryBlocks(bool global);
  ~TMemoryBlocks();
  TMemoryBlocks(const TMemoryBlocks&) = delete;
  TMemoryBlocks& operator=(const TMemoryBlocks&) = delete;

  uint8_t* base;
  uint8_t* start;
  uint32_t used;
  uint32_t capacity;
  uint32_t returned;
  TMemoryBlocks* next;
  CRITICAL_SECTION lock;
  bool active;
  TMemoryEntry* table;
  uint32_t count;
  uint32_t tableCapacity;
  bool global;
  // Offset from start from which no byte has been handed out since the region was committed
  // or its pages were last exchanged for fresh ones: those bytes read zero.
  uint32_t untouchedFrom;
  // Committed for one block too large for a region of the usual size; blocks of ordinary size
  // are never carved here.
  bool dedicated;
};

void MemoryLock();
void MemoryUnlock();

class TMemoryLock {
 public:
  TMemoryLock() { MemoryLock(); }
  ~TMemoryLock() { MemoryUnlock(); }
  TMemoryLock(const TMemoryLock&) = delete;
  TMemoryLock& operator=(const TMemoryLock&) = delete;
};

// Gives back a block obtained through Create; any other pointer is ignored.
void Free(void* p);

// True between MemdiagStartup and MemdiagShutdown.
bool MemoryManagerActive();

// The steps of a creation, used by Create below. They must run under the lock.
bool MemdiagOpenLevel();
// alignment: a power of two up to 16.
void* MemdiagAllocateAligned(uint32_t size, uint32_t alignment);
void MemdiagRegisterAndClose(void* block, uint32_t elementSize, uint32_t size);

// handle must be null beforehand; on success it points at count zero-filled elements, each
// constructed in place (with args) when T has a non-trivial constructor or args are given.
// It stays null on failure (no memory, count 0, too many nested creations, manager stopped).
template <typename T, typename... Args>
void Create(T*& handle, uint32_t count, Args&&... args) {
  static_assert(sizeof(T) < (1u << 28), "element too large for the entry table");
  TMemoryLock guard;
  if (handle != nullptr) return;
  if (!MemdiagOpenLevel()) return;
  const uint64_t bytes = static_cast<uint64_t>(count) * sizeof(T);
  void* block = bytes > 0xFFFFFFFFu ? nullptr : MemdiagAllocateAligned(static_cast<uint32_t>(bytes),
                                                                    alignof(T) < 16 ? alignof(T) : 16);
  if (block != nullptr && (sizeof...(Args) > 0 || !std::is_trivially_default_constructible<T>::value)) {
    T* elements = static_cast<T*>(block);
    for (uint32_t i = 0; i < count; ++i) new (elements + i) T(args...);
  }
  handle = static_cast<T*>(block);
  MemdiagRegisterAndClose(block, static_cast<uint32_t>(sizeof(T)), static_cast<uint32_t>(block ? bytes : 0));
}

// Ends the one object that Create made at handle (its destructor, then its block given back) and
// nulls the handle: the counterpart of Create(handle, 1, ...).
template <typename T>
void Destroy(T*& handle) {
  if (handle == nullptr) return;
  handle->~T();
  Free(handle);
  handle = nullptr;
}

// A read-only view of the manager's state, for tests and measurements.
struct TMemoryRegionState {
  bool active;
  const uint8_t* start;
  uint32_t used;
  uint32_t capacity;
  uint32_t count;
  uint32_t tableCapacity;
};
// State of the index-th region of the chain (0 = the global one); false beyond the chain.
bool MemoryRegionState(uint32_t index, TMemoryRegionState& state);
// Index in the chain of the region where new blocks are carved.
uint32_t CurrentMemoryRegion();
// Size requested for every region: 256 MiB or the total physical memory, whichever is smaller.
uint32_t MemoryRegionSize();
// The machine's physical memory, asked of the system once per run: it does not change while the
// program runs, and the manager and the dynamic array look at it at every region and resize.
uint64_t TotalPhysicalMemory();
uint32_t MemoryRegionSizeFor(uint64_t totalPhysical);
uint32_t MemoryRegionRecordSize();
// The largest block that a freshly activated region of MemoryRegionSize() bytes can hand out.
uint32_t LargestFreshRegionBlock();
// Size and element size of the block that starts at p; false if p starts no registered block.
bool MemoryBlockInfo(const void* p, uint32_t& size, uint32_t& elementSize);

void MemdiagStartup();
void MemdiagShutdown();
