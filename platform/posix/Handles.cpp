// The handle table shared by files, folder searches and timers.
//
// A handle is 0x1000 + 4 × slot, so it is never null, never INVALID_HANDLE_VALUE and never one of
// the pointers the rest of the layer hands out as window or drawing handles. A closed slot is
// reused, but only after every other free slot: a stale handle then fails with
// ERROR_INVALID_HANDLE for as long as possible instead of reaching a newer object.
#include <deque>
#include <mutex>
#include <vector>
#include "platform/posix/PosixInternal.h"

namespace {

struct THandleSlot {
  THandleKind kind;
  void* object;
};

const uintptr_t handleBase = 0x1000;

std::mutex& TableLock() {
  static std::mutex lock;
  return lock;
}
std::vector<THandleSlot>& Slots() {
  static std::vector<THandleSlot> slots;
  return slots;
}
std::deque<size_t>& FreeSlots() {
  static std::deque<size_t> freeSlots;
  return freeSlots;
}

bool SlotOf(HANDLE handle, size_t& slot) {
  uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  if (value < handleBase || (value - handleBase) % 4 != 0) return false;
  slot = (value - handleBase) / 4;
  return slot < Slots().size() && Slots()[slot].object != nullptr;
}

}  // namespace

HANDLE RegisterHandle(THandleKind kind, void* object) {
  std::lock_guard<std::mutex> guard(TableLock());
  size_t slot;
  if (FreeSlots().size() > 64) {
    slot = FreeSlots().front();
    FreeSlots().pop_front();
    Slots()[slot] = {kind, object};
  } else {
    slot = Slots().size();
    Slots().push_back({kind, object});
  }
  return reinterpret_cast<HANDLE>(handleBase + 4 * slot);
}

void* LookupHandle(HANDLE handle, THandleKind kind) {
  std::lock_guard<std::mutex> guard(TableLock());
  size_t slot;
  if (!SlotOf(handle, slot) || Slots()[slot].kind != kind) return nullptr;
  return Slots()[slot].object;
}

void* UnregisterHandle(HANDLE handle, THandleKind kind) {
  std::lock_guard<std::mutex> guard(TableLock());
  size_t slot;
  if (!SlotOf(handle, slot) || Slots()[slot].kind != kind) return nullptr;
  void* object = Slots()[slot].object;
  Slots()[slot] = {kind, nullptr};
  FreeSlots().push_back(slot);
  return object;
}

THandleKind HandleKindOf(HANDLE handle) {
  std::lock_guard<std::mutex> guard(TableLock());
  size_t slot;
  if (!SlotOf(handle, slot)) return static_cast<THandleKind>(0);
  return Slots()[slot].kind;
}
