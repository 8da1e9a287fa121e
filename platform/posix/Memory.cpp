// Win32 virtual memory and critical sections over mmap and pthread mutexes.
//
// Windows remembers the size of every reservation; mmap does not, so the reservations made here
// are kept in a small fixed table (no heap use: the memory manager sits on top of this file).
// Decommitting drops the pages and makes them inaccessible but keeps the address range
// reserved, as Windows does, so no other mapping can land inside it until it is released.
// Committed ranges keep ordinary pages, as Windows gives them: where the system would back them
// with transparent huge pages, each first touch would clear 2 MiB, and the engine's work areas
// and the blocks in flight touch only parts of theirs (a small file's block uses a few KiB of a
// slot sized for the window). The TLB misses that huge pages would save cost less than clearing
// memory that is never used.
#include "platform/api/memory.h"

#include <pthread.h>
#include <sys/mman.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace {

struct Reservation {
  uintptr_t base;
  size_t size;
};

const int kMaxReservations = 1024;
Reservation reservations[kMaxReservations];
pthread_mutex_t reservationsLock = PTHREAD_MUTEX_INITIALIZER;

size_t PageSize() {
  long page = sysconf(_SC_PAGESIZE);
  return page > 0 ? static_cast<size_t>(page) : 4096u;
}

size_t RoundUpToPages(size_t size) {
  size_t page = PageSize();
  return (size + page - 1) / page * page;
}

// Index of the reservation that contains address, or -1. Caller holds reservationsLock.
int FindReservation(uintptr_t address) {
  for (int i = 0; i < kMaxReservations; ++i) {
    const Reservation& r = reservations[i];
    if (r.size != 0 && address >= r.base && address - r.base < r.size) return i;
  }
  return -1;
}

const size_t kHugePageBytes = 2u << 20;

// Advice only: where the system has no transparent huge pages the call fails and nothing changes.
// A range shorter than a huge page cannot hold an aligned one.
void KeepOrdinaryPages(void* begin, size_t length) {
  if (length >= kHugePageBytes) madvise(begin, length, MADV_NOHUGEPAGE);
}

int FreeReservationSlot() {
  for (int i = 0; i < kMaxReservations; ++i)
    if (reservations[i].size == 0) return i;
  return -1;
}

pthread_mutex_t* MutexOf(LPCRITICAL_SECTION section) {
  static_assert(sizeof(pthread_mutex_t) <= sizeof(section->opaque), "CRITICAL_SECTION too small");
  static_assert(alignof(pthread_mutex_t) <= 8, "CRITICAL_SECTION under-aligned");
  return reinterpret_cast<pthread_mutex_t*>(section->opaque);
}

}  // namespace

LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect) {
  if (size == 0 || (allocationType & (MEM_COMMIT | MEM_RESERVE)) == 0 ||
      (protect != PAGE_READWRITE && protect != PAGE_NOACCESS) ||
      (allocationType & ~(MEM_COMMIT | MEM_RESERVE)) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const bool commit = (allocationType & MEM_COMMIT) != 0;
  const int protection = (commit && protect == PAGE_READWRITE) ? PROT_READ | PROT_WRITE : PROT_NONE;
  pthread_mutex_lock(&reservationsLock);
  LPVOID result = nullptr;
  if (address == nullptr) {
    size_t length = RoundUpToPages(size);
    int slot = FreeReservationSlot();
    if (slot < 0 || length < size) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } else {
      void* p = mmap(nullptr, length, protection, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
      if (p == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      } else {
        reservations[slot].base = reinterpret_cast<uintptr_t>(p);
        reservations[slot].size = length;
        if (commit) KeepOrdinaryPages(p, length);
        result = p;
      }
    }
  } else {
    // Committing pages of an existing reservation.
    uintptr_t begin = reinterpret_cast<uintptr_t>(address) / PageSize() * PageSize();
    uintptr_t end = reinterpret_cast<uintptr_t>(address) + size;
    int index = FindReservation(begin);
    if (index < 0 || end < begin || end - reservations[index].base > reservations[index].size) {
      SetLastError(ERROR_INVALID_PARAMETER);
    } else if (!commit) {
      result = reinterpret_cast<LPVOID>(begin);
    } else if (mprotect(reinterpret_cast<void*>(begin), RoundUpToPages(end - begin), protection) != 0) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } else {
      // A decommit replaced the mapping, and the advice with it: give it again.
      KeepOrdinaryPages(reinterpret_cast<void*>(begin), RoundUpToPages(end - begin));
      result = reinterpret_cast<LPVOID>(begin);
    }
  }
  pthread_mutex_unlock(&reservationsLock);
  return result;
}

BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD freeType) {
  if (address == nullptr || (freeType != MEM_DECOMMIT && freeType != MEM_RELEASE)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  pthread_mutex_lock(&reservationsLock);
  BOOL ok = FALSE;
  uintptr_t start = reinterpret_cast<uintptr_t>(address);
  int index = FindReservation(start);
  if (index < 0) {
    SetLastError(ERROR_INVALID_ADDRESS);
  } else if (freeType == MEM_RELEASE) {
    if (size != 0 || start != reservations[index].base) {
      SetLastError(ERROR_INVALID_PARAMETER);
    } else if (munmap(address, reservations[index].size) == 0) {
      reservations[index].size = 0;
      reservations[index].base = 0;
      ok = TRUE;
    } else {
      SetLastError(ERROR_INVALID_PARAMETER);
    }
  } else {
    const Reservation& r = reservations[index];
    uintptr_t begin = start / PageSize() * PageSize();
    uintptr_t end = size == 0 ? r.base + r.size : start + size;
    if (size == 0 && start != r.base) {
      SetLastError(ERROR_INVALID_PARAMETER);
    } else if (end < begin || end - r.base > r.size) {
      SetLastError(ERROR_INVALID_PARAMETER);
    } else {
      size_t length = RoundUpToPages(end - begin);
      // Replacing the pages with fresh inaccessible ones drops their contents and their
      // memory, and a later commit hands out zero-filled pages again.
      void* p = mmap(reinterpret_cast<void*>(begin), length, PROT_NONE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
      if (p == MAP_FAILED)
        SetLastError(ERROR_INVALID_PARAMETER);
      else
        ok = TRUE;
    }
  }
  pthread_mutex_unlock(&reservationsLock);
  return ok;
}

void GlobalMemoryStatus(LPMEMORYSTATUS status) {
  if (status == nullptr) return;
  struct sysinfo info;
  uint64_t totalPhys = 0, availPhys = 0, totalSwap = 0, freeSwap = 0;
  if (sysinfo(&info) == 0) {
    uint64_t unit = info.mem_unit ? info.mem_unit : 1;
    totalPhys = static_cast<uint64_t>(info.totalram) * unit;
    availPhys = (static_cast<uint64_t>(info.freeram) + info.bufferram) * unit;
    totalSwap = static_cast<uint64_t>(info.totalswap) * unit;
    freeSwap = static_cast<uint64_t>(info.freeswap) * unit;
  } else {
    long pages = sysconf(_SC_PHYS_PAGES);
    long avail = sysconf(_SC_AVPHYS_PAGES);
    if (pages > 0) totalPhys = static_cast<uint64_t>(pages) * PageSize();
    if (avail > 0) availPhys = static_cast<uint64_t>(avail) * PageSize();
  }
  if (availPhys > totalPhys) availPhys = totalPhys;
  // Win32 saturates the fields it cannot represent in SIZE_T.
  constexpr uint64_t sizeMax = static_cast<uint64_t>(static_cast<SIZE_T>(-1));
  auto clamp = [](uint64_t v) { return static_cast<SIZE_T>(v > sizeMax ? sizeMax : v); };
  status->dwLength = sizeof(MEMORYSTATUS);
  status->dwMemoryLoad = totalPhys ? static_cast<DWORD>((totalPhys - availPhys) * 100 / totalPhys) : 0;
  status->dwTotalPhys = clamp(totalPhys);
  status->dwAvailPhys = clamp(availPhys);
  status->dwTotalPageFile = clamp(totalPhys + totalSwap);
  status->dwAvailPageFile = clamp(availPhys + freeSwap);
  const uint64_t userSpace = sizeof(void*) >= 8 ? (uint64_t(1) << 47) : (uint64_t(1) << 31);
  status->dwTotalVirtual = clamp(userSpace);
  status->dwAvailVirtual = clamp(userSpace);
}

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(MutexOf(section), &attributes);
  pthread_mutexattr_destroy(&attributes);
}

void EnterCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_lock(MutexOf(section)); }

void LeaveCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_unlock(MutexOf(section)); }

void DeleteCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_destroy(MutexOf(section)); }
