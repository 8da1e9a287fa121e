// The memory manager.
//
// Memory comes from regions committed whole from the system (256 MiB, or the physical memory if
// that is smaller). The first bytes of a region hold its entry table, one 12-byte entry per
// registered block, ordered by address; blocks are carved upward after it by bumping `used`.
// A block is given back in one of two ways: the topmost block of a region is taken back into the
// region together with every free entry directly beneath it; any other block only has its entry
// marked free, and a later creation of exactly the same size reuses it if the entry is among the
// 100 newest. Regions are chained; a request that does not fit moves on to the next region (at
// most one per request), and a free moves the carving point back to the first region whose
// successor holds nothing. Regions go back to the system only at shut-down.
//
// A request larger than a fresh region can hold gets a region of its own, sized to it with a
// small table: the first empty region of the chain (past the first) that holds it, or else the
// next record of the chain that has never been committed. The carving point stays where it was,
// and the block keeps every rule of the others: zero-filled, in its region's table, taken back
// from the top (its region is then empty, ready for the next large request, and the pages it
// touched are exchanged for fresh ones).
//
// Creations nest (a constructor may create objects), so each open creation level remembers the
// region it carved from, the table index it will be registered at and whether it reused an entry.
// A block is registered only after its constructor has run: the blocks the constructor created
// lie above it and are registered first, and inserting the outer block at the entry count read
// before its allocation keeps the table ordered.
//
// Blocks are aligned for their element type. The padding put in front of a block is kept in the
// top bits of its entry's element-size word, so taking the topmost block back restores `used`
// exactly to its value before the block was carved.
#include "foundation/Memdiag.h"

#include <cstdlib>
#include <new>

#include "foundation/Operaciispamyatyu.h"

namespace {

const uint32_t kRegionRequest = 268435456u;
const uint32_t kRegionBytesPerEntry = 112;
const uint32_t kTableSlack = 100;
const uint32_t kReuseWindow = 100;
const int kMaxNesting = 100;
const uint32_t kPaddingShift = 28;
const uint32_t kElementSizeMask = (1u << kPaddingShift) - 1;
const uint32_t kMaxAlignment = 16;

struct CreationLevel {
  TMemoryBlocks* region;
  int32_t reusedEntry;   // entry index reused by this level, or -1 for a freshly carved block
  uint32_t insertIndex;  // where a fresh block is registered
  uint32_t padding;      // alignment padding carved in front of a fresh block
};

alignas(TMemoryBlocks) unsigned char globalStorage[sizeof(TMemoryBlocks)];
TMemoryBlocks* MemoryBlocks = nullptr;  // the global record while the manager runs
TMemoryBlocks* currentRegion = nullptr;
int creationDepth = -1;
CreationLevel levels[kMaxNesting];

// Every address range ever committed as a region. The deallocation operators use it to tell the
// manager's pointers from the language runtime's, also after shut-down: a released region stays
// reserved, so no runtime allocation can land inside it.
struct AddressRange {
  uintptr_t begin;
  uintptr_t end;
};
const int kMaxRegions = 256;
AddressRange regionRanges[kMaxRegions];
int regionRangeCount = 0;

bool InAnyRegion(const void* p) {
  const uintptr_t a = reinterpret_cast<uintptr_t>(p);
  for (int i = 0; i < regionRangeCount; ++i)
    if (a >= regionRanges[i].begin && a < regionRanges[i].end) return true;
  return false;
}

void RememberRegion(const uint8_t* base, uint32_t size) {
  const uintptr_t begin = reinterpret_cast<uintptr_t>(base);
  for (int i = 0; i < regionRangeCount; ++i)
    if (regionRanges[i].begin == begin) {
      if (regionRanges[i].end < begin + size) regionRanges[i].end = begin + size;
      return;
    }
  regionRanges[regionRangeCount].begin = begin;
  regionRanges[regionRangeCount].end = begin + size;
  ++regionRangeCount;
}

uint32_t EntrySize(const TMemoryEntry& e) { return e.blockEnd - e.blockStart; }
uint32_t ElementSizeOf(const TMemoryEntry& e) { return e.elementSize & kElementSizeMask; }
uint32_t PaddingOf(const TMemoryEntry& e) { return e.elementSize >> kPaddingShift; }

uint32_t PaddingFor(uint32_t offset, uint32_t alignment) {
  return (alignment - offset % alignment) % alignment;
}

uint32_t TableBytesFor(uint32_t regionSize) {
  return (regionSize / kRegionBytesPerEntry + kTableSlack) * static_cast<uint32_t>(sizeof(TMemoryEntry));
}

uint32_t StandardTableEntries() { return MemoryRegionSize() / kRegionBytesPerEntry + kTableSlack; }

uint32_t RecordFootprintAfter(uint32_t offset) {
  return PaddingFor(offset, alignof(TMemoryBlocks)) + static_cast<uint32_t>(sizeof(TMemoryBlocks));
}

// Every block handed out, carved or reused, passes through here. Only the part below the
// region's untouched bytes is filled: what lies above came zeroed from the system, and filling it
// again would only make pages resident that the block's owner may never use.
void ZeroFillBlock(TMemoryBlocks& region, uint8_t* p, uint32_t size) {
  const uint32_t offset = static_cast<uint32_t>(p - region.start);
  if (offset < region.untouchedFrom) {
    const uint32_t dirty = region.untouchedFrom - offset;
    ZeroBytes(p, size < dirty ? size : dirty);
  }
  if (offset + size > region.untouchedFrom) region.untouchedFrom = offset + size;
}

const uint32_t kPageBytes = 4096;
// Dirty bytes above the carving point worth exchanging for fresh pages rather than filling again.
const uint32_t kPageExchangeMinimum = 1u << 20;

// After the top of a region has come down: when at least kPageExchangeMinimum bytes above it were
// handed out before, their whole pages are decommitted and committed again, which gives fresh
// zero pages and drops the old ones from memory. A large block freed and carved again (the
// engine's work areas, once per block) then costs neither a fill of its whole size nor residency
// for the parts its next user leaves alone.
void ExchangePagesAboveTop(TMemoryBlocks& region) {
  if (region.base == nullptr || region.untouchedFrom < region.used ||
      region.untouchedFrom - region.used < kPageExchangeMinimum)
    return;
  const uint32_t begin = (region.used + kPageBytes - 1) / kPageBytes * kPageBytes;
  const uint32_t end = (region.untouchedFrom + kPageBytes - 1) / kPageBytes * kPageBytes;
  if (end > region.capacity || end <= begin) return;
  if (!VirtualFree(region.start + begin, end - begin, MEM_DECOMMIT)) return;
  if (VirtualAlloc(region.start + begin, end - begin, MEM_COMMIT, PAGE_READWRITE) == nullptr) {
    // The pages are gone: nothing may be carved there any more.
    region.capacity = begin;
  }
  region.untouchedFrom = begin;
}

// Carves size bytes aligned to alignment at the top of the region, or gives null when the block
// would reach the region's last byte.
uint8_t* CarveIn(TMemoryBlocks& region, uint32_t size, uint32_t alignment, uint32_t& padding) {
  padding = PaddingFor(region.used, alignment);
  if (static_cast<uint64_t>(region.used) + padding + size >= region.capacity) return nullptr;
  uint8_t* p = region.start + region.used + padding;
  region.used += padding + size;
  ZeroFillBlock(region, p, size);
  return p;
}

bool Activate(TMemoryBlocks& region, uint32_t size, uint32_t tableEntries) {
  TMemoryLock guard;
  if (region.active) return region.start != nullptr;
  region.start = nullptr;
  region.used = region.capacity = region.returned = 0;
  region.table = nullptr;
  region.count = region.tableCapacity = 0;
  const uint64_t physical = TotalPhysicalMemory();
  if (physical != 0 && size > physical) size = static_cast<uint32_t>(physical);
  // A region committed here is zero throughout; one committed earlier is taken as dirty.
  region.untouchedFrom = size;
  if (region.base == nullptr) {
    if (regionRangeCount >= kMaxRegions) return false;
    region.base = static_cast<uint8_t*>(VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    if (region.base != nullptr) {
      RememberRegion(region.base, size);
      region.untouchedFrom = 0;
    }
  }
  if (region.base != nullptr) {
    region.start = region.base;
    region.capacity = size;
    region.tableCapacity = tableEntries;
    region.table = reinterpret_cast<TMemoryEntry*>(region.start);
    region.used += region.tableCapacity * static_cast<uint32_t>(sizeof(TMemoryEntry));
    region.active = true;
    if (region.next == nullptr) {
      uint32_t padding = 0;
      uint8_t* record = CarveIn(region, sizeof(TMemoryBlocks), alignof(TMemoryBlocks), padding);
      if (record != nullptr) region.next = new (record) TMemoryBlocks(false);
    }
  }
  return region.start != nullptr;
}

void Release(TMemoryBlocks& region) {
  TMemoryLock guard;
  if (region.next != nullptr) {
    // The record lies in this region and is not registered: it is destroyed (which releases its
    // own region and the rest of the chain) and its bytes go with this region.
    region.next->~TMemoryBlocks();
    region.next = nullptr;
  }
  if (region.active) {
    region.capacity += region.returned;
    region.returned = 0;
    if (region.base != nullptr) {
      VirtualFree(region.base, region.capacity, MEM_DECOMMIT);
      region.start = nullptr;
      region.base = nullptr;
    }
    region.start = nullptr;
    region.used = region.capacity = region.returned = 0;
    region.table = nullptr;
    region.count = region.tableCapacity = 0;
    region.active = false;
    region.dedicated = false;
  }
}

// True when an open creation level is reusing this entry: it must not be taken back into the
// region while its object is being constructed.
bool EntryInUseByOpenLevel(const TMemoryBlocks& region, uint32_t index) {
  for (int i = 0; i <= creationDepth; ++i)
    if (levels[i].region == &region && levels[i].reusedEntry == static_cast<int32_t>(index)) return true;
  return false;
}

// Index of the entry starting at offset, or -1. The newest entry is probed first: it is the usual
// one to be freed.
int32_t FindEntry(const TMemoryBlocks& region, uint32_t offset) {
  const TMemoryEntry* t = region.table;
  uint32_t hi = region.count - 1;
  if (t[hi].blockStart == offset) return static_cast<int32_t>(hi);
  uint32_t lo = 0;
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    if (t[mid].blockStart < offset)
      lo = mid + 1;
    else
      hi = mid;
  }
  return t[lo].blockStart == offset ? static_cast<int32_t>(lo) : -1;
}

bool FreeIn(TMemoryBlocks& region, void* p) {
  if (region.active && region.count > 0) {
    const uintptr_t a = reinterpret_cast<uintptr_t>(p);
    const uintptr_t s = reinterpret_cast<uintptr_t>(region.start);
    if (a >= s && a - s < region.capacity) {
      const uint32_t offset = static_cast<uint32_t>(a - s);
      TMemoryEntry* t = region.table;
      if (offset >= t[0].blockStart && offset < t[region.count - 1].blockEnd) {
        const int32_t n = FindEntry(region, offset);
        if (n >= 0) {
          if (t[n].blockEnd == region.used) {
            region.used = t[n].blockStart - PaddingOf(t[n]);
            region.count = static_cast<uint32_t>(n);
            while (region.count > 0) {
              const TMemoryEntry& last = t[region.count - 1];
              if (ElementSizeOf(last) != 0 || last.blockEnd != region.used ||
                  EntryInUseByOpenLevel(region, region.count - 1))
                break;
              region.used = last.blockStart - PaddingOf(last);
              --region.count;
            }
            ExchangePagesAboveTop(region);
          } else {
            t[n].elementSize &= ~kElementSizeMask;
          }
          return true;
        }
      }
    }
  }
  return region.next != nullptr && FreeIn(*region.next, p);
}

// The region after `region` that blocks of ordinary size are carved in: dedicated ones are passed.
TMemoryBlocks* NextStandardRegion(const TMemoryBlocks& region) {
  TMemoryBlocks* next = region.next;
  while (next != nullptr && next->dedicated) next = next->next;
  return next;
}

// The bytes a region needs to hand out a block of `size` bytes besides its table, the next
// region's record and the byte a region never gives out.
uint64_t DedicatedRegionBytes(uint32_t size) {
  const uint32_t table = kTableSlack * static_cast<uint32_t>(sizeof(TMemoryEntry));
  const uint64_t bytes = uint64_t(table) + RecordFootprintAfter(table) + kMaxAlignment + size + 1;
  return (bytes + kPageBytes - 1) / kPageBytes * kPageBytes;
}

// A region of its own for a block too large for a fresh region (see the account at the top).
void* AllocateDedicated(uint32_t size, uint32_t alignment, CreationLevel* level) {
  const uint64_t needed = DedicatedRegionBytes(size);
  if (needed > 0xFFFFFFFFull) return nullptr;
  TMemoryBlocks* region = MemoryBlocks->next;
  while (region != nullptr && region->active &&
         !(region->dedicated && region->count == 0 &&
           uint64_t(region->capacity) - region->used > uint64_t(size) + kMaxAlignment))
    region = region->next;
  if (region == nullptr) return nullptr;
  if (!region->active) {
    if (!Activate(*region, static_cast<uint32_t>(needed), kTableSlack)) return nullptr;
    region->dedicated = true;
  }
  uint32_t padding = 0;
  uint8_t* p = CarveIn(*region, size, alignment, padding);
  if (p != nullptr && level != nullptr) {
    level->region = region;
    level->insertIndex = region->count;
    level->padding = padding;
  }
  return p;
}

void* Allocate(uint32_t size, uint32_t alignment) {
  TMemoryLock guard;
  CreationLevel* level = creationDepth >= 0 ? &levels[creationDepth] : nullptr;
  if (level != nullptr) {
    level->reusedEntry = -1;
    level->region = currentRegion;
    level->insertIndex = currentRegion->count;
    level->padding = 0;
  }
  if (size == 0) return nullptr;
  if (size > LargestFreshRegionBlock()) {
    if (!MemoryBlocks->active && !Activate(*MemoryBlocks, kRegionRequest, StandardTableEntries())) return nullptr;
    return AllocateDedicated(size, alignment, level);
  }
  if (!currentRegion->active && !Activate(*currentRegion, kRegionRequest, StandardTableEntries())) return nullptr;
  if (level != nullptr) {
    TMemoryBlocks& r = *currentRegion;
    const uint32_t window = r.count < kReuseWindow ? r.count : kReuseWindow;
    for (uint32_t k = r.count; k > r.count - window; --k) {
      const TMemoryEntry& e = r.table[k - 1];
      if (ElementSizeOf(e) == 0 && EntrySize(e) == size && e.blockStart % alignment == 0 &&
          !EntryInUseByOpenLevel(r, k - 1)) {
        level->reusedEntry = static_cast<int32_t>(k - 1);
        uint8_t* p = r.start + e.blockStart;
        ZeroFillBlock(r, p, size);
        return p;
      }
    }
  }
  uint32_t padding = PaddingFor(currentRegion->used, alignment);
  if (static_cast<uint64_t>(currentRegion->used) + padding + size >= currentRegion->capacity &&
      NextStandardRegion(*currentRegion) != nullptr) {
    currentRegion = NextStandardRegion(*currentRegion);
    if (!Activate(*currentRegion, kRegionRequest, StandardTableEntries())) return nullptr;
    if (level != nullptr) {
      // A block carved in the region moved on to goes after that region's own entries.
      level->region = currentRegion;
      level->insertIndex = currentRegion->count;
    }
  }
  uint8_t* p = CarveIn(*currentRegion, size, alignment, padding);
  if (p != nullptr && level != nullptr) level->padding = padding;
  return p;
}

void Register(const CreationLevel& level, void* p, uint32_t elementSize, uint32_t size) {
  if (p == nullptr || level.region == nullptr) return;
  TMemoryBlocks& region = *level.region;
  const uint32_t offset = static_cast<uint32_t>(static_cast<uint8_t*>(p) - region.start);
  if (level.reusedEntry >= 0) {
    const uint32_t index = static_cast<uint32_t>(level.reusedEntry);
    if (index < region.count && region.table[index].blockStart == offset)
      region.table[index].elementSize = (region.table[index].elementSize & ~kElementSizeMask) | elementSize;
    return;
  }
  const uint32_t index = level.insertIndex;
  // A full table (or an index that no longer fits the table) leaves the block unregistered: it
  // stays allocated until the regions go back to the system.
  if (index > region.count || region.count >= region.tableCapacity) return;
  for (int i = 0; i < creationDepth; ++i) {
    if (levels[i].region != &region) continue;
    if (levels[i].reusedEntry >= static_cast<int32_t>(index)) ++levels[i].reusedEntry;
    if (levels[i].reusedEntry < 0 && levels[i].insertIndex > index) ++levels[i].insertIndex;
  }
  TMemoryEntry* t = region.table;
  if (index < region.count)
    MoveBytes(t + index + 1, t + index, (region.count - index) * static_cast<uint32_t>(sizeof(TMemoryEntry)));
  ++region.count;
  t[index].blockStart = offset;
  t[index].blockEnd = offset + size;
  t[index].elementSize = (level.padding << kPaddingShift) | elementSize;
}

void ReleaseFromDeleteOperator(void* p) {
  if (p == nullptr) return;
  if (MemoryBlocks != nullptr) {
    MemoryLock();
    const bool ours = InAnyRegion(p);
    if (ours) Free(p);
    MemoryUnlock();
    if (!ours) std::free(p);
  } else if (!InAnyRegion(p)) {
    std::free(p);
  }
}

}  // namespace

TMemoryBlocks::TMemoryBlocks(bool isGlobal)
    : base(nullptr), start(nullptr), used(0), capacity(0), returned(0), next(nullptr), lock(),
      active(false), table(nullptr), count(0), tableCapacity(0), global(isGlobal), untouchedFrom(0), dedicated(false) {
  if (global) InitializeCriticalSection(&lock);
}

TMemoryBlocks::~TMemoryBlocks() {
  Release(*this);
  if (global) DeleteCriticalSection(&lock);
}

void MemoryLock() {
  if (MemoryBlocks != nullptr) EnterCriticalSection(&MemoryBlocks->lock);
}

void MemoryUnlock() {
  if (MemoryBlocks != nullptr) LeaveCriticalSection(&MemoryBlocks->lock);
}

bool MemoryManagerActive() { return MemoryBlocks != nullptr; }

bool MemdiagOpenLevel() {
  if (MemoryBlocks == nullptr || creationDepth >= kMaxNesting - 1) return false;
  ++creationDepth;
  CreationLevel& level = levels[creationDepth];
  level.region = currentRegion;
  level.reusedEntry = -1;
  level.insertIndex = currentRegion->count;
  level.padding = 0;
  return true;
}

void* MemdiagAllocateAligned(uint32_t size, uint32_t alignment) {
  if (alignment == 0 || alignment > kMaxAlignment || (alignment & (alignment - 1)) != 0) return nullptr;
  return Allocate(size, alignment);
}

void MemdiagRegisterAndClose(void* block, uint32_t elementSize, uint32_t size) {
  if (creationDepth < 0) return;
  if (elementSize <= kElementSizeMask) Register(levels[creationDepth], block, elementSize, size);
  --creationDepth;
}

void Free(void* p) {
  if (p == nullptr || MemoryBlocks == nullptr) return;
  TMemoryLock guard;
  if (FreeIn(*MemoryBlocks, p)) {
    currentRegion = MemoryBlocks;
    for (TMemoryBlocks* r = NextStandardRegion(*currentRegion); r != nullptr && r->count > 0; r = NextStandardRegion(*r))
      currentRegion = r;
  }
}

bool MemoryRegionState(uint32_t index, TMemoryRegionState& state) {
  TMemoryLock guard;
  const TMemoryBlocks* r = MemoryBlocks;
  for (uint32_t i = 0; r != nullptr && i < index; ++i) r = r->next;
  if (r == nullptr) return false;
  state.active = r->active;
  state.start = r->start;
  state.used = r->used;
  state.capacity = r->capacity;
  state.count = r->count;
  state.tableCapacity = r->tableCapacity;
  return true;
}

uint32_t CurrentMemoryRegion() {
  TMemoryLock guard;
  uint32_t index = 0;
  for (const TMemoryBlocks* r = MemoryBlocks; r != nullptr && r != currentRegion; r = r->next) ++index;
  return index;
}

uint32_t MemoryRegionSizeFor(uint64_t totalPhysical) {
  return totalPhysical != 0 && totalPhysical < kRegionRequest ? static_cast<uint32_t>(totalPhysical) : kRegionRequest;
}

uint64_t TotalPhysicalMemory() {
  static const uint64_t total = [] {
    MEMORYSTATUS status;
    GlobalMemoryStatus(&status);
    return uint64_t(status.dwTotalPhys);
  }();
  return total;
}

uint32_t MemoryRegionSize() { return MemoryRegionSizeFor(TotalPhysicalMemory()); }

uint32_t MemoryRegionRecordSize() { return RecordFootprintAfter(TableBytesFor(MemoryRegionSize())); }

uint32_t LargestFreshRegionBlock() {
  const uint32_t size = MemoryRegionSize();
  const uint32_t table = TableBytesFor(size);
  const uint32_t record = RecordFootprintAfter(table);
  return size > table + record + 1 ? size - table - record - 1 : 0;
}

bool MemoryBlockInfo(const void* p, uint32_t& size, uint32_t& elementSize) {
  TMemoryLock guard;
  const uintptr_t a = reinterpret_cast<uintptr_t>(p);
  for (const TMemoryBlocks* r = MemoryBlocks; r != nullptr; r = r->next) {
    if (!r->active || r->count == 0) continue;
    const uintptr_t s = reinterpret_cast<uintptr_t>(r->start);
    if (a < s || a - s >= r->capacity) continue;
    const int32_t n = FindEntry(*r, static_cast<uint32_t>(a - s));
    if (n < 0) return false;
    size = EntrySize(r->table[n]);
    elementSize = ElementSizeOf(r->table[n]);
    return true;
  }
  return false;
}

void MemdiagStartup() {
  if (MemoryBlocks != nullptr) return;
  TMemoryBlocks* record = new (globalStorage) TMemoryBlocks(true);
  currentRegion = record;
  creationDepth = -1;
  MemoryBlocks = record;
}

void MemdiagShutdown() {
  TMemoryBlocks* record = MemoryBlocks;
  if (record == nullptr) return;
  MemoryLock();
  Release(*record);
  MemoryUnlock();
  // From here on the deallocation operators no longer reach the manager.
  MemoryBlocks = nullptr;
  currentRegion = nullptr;
  creationDepth = -1;
  record->~TMemoryBlocks();
}

// The runtime's own objects are allocated with malloc so that the replaced delete operators can
// give them back with free, which keeps the pair matched for every allocator underneath
// (including a sanitizer's).
namespace {
void* AllocateForRuntime(std::size_t size) {
  if (size == 0) size = 1;
  for (;;) {
    void* p = std::malloc(size);
    if (p != nullptr) return p;
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    handler();
  }
}
}  // namespace

void* operator new(std::size_t size) { return AllocateForRuntime(size); }
void* operator new[](std::size_t size) { return AllocateForRuntime(size); }
// The no-throw forms allocate the same way, so that every form of delete meets a block of ours
// or of the runtime's malloc, whichever new gave it.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return AllocateForRuntime(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return AllocateForRuntime(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p, const std::nothrow_t&) noexcept { ReleaseFromDeleteOperator(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { ReleaseFromDeleteOperator(p); }
void operator delete(void* p) noexcept { ReleaseFromDeleteOperator(p); }
void operator delete[](void* p) noexcept { ReleaseFromDeleteOperator(p); }
void operator delete(void* p, std::size_t) noexcept { ReleaseFromDeleteOperator(p); }
void operator delete[](void* p, std::size_t) noexcept { ReleaseFromDeleteOperator(p); }
