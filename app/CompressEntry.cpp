// The compress job. Files are read on the run's thread into free slots and their blocks handed to
// the workers; a writer queue keeps headers, blocks and back-patches in archive order, so the next
// file is read while the blocks of the one before it are still compressed.
#include "app/CompressEntry.h"

#include <cstdio>
#include <deque>

#include "app/ArchiveFormat.h"
#include "app/RunState.h"
#include "app/Reports.h"
#include "app/RunControl.h"

namespace {

// The entries being compressed, in archive order: a header, the blocks, the back-patch. Each waits
// here until everything before it is written, so the blocks of one file are compressed while the
// next blocks, or the next files, are read. Only the run's thread uses it.
class TArchiveWriter {
 public:
  // EntryWritten while nothing has failed, else the first failure's result.
  int32_t State() const { return state_; }

  void QueueHeader(HANDLE archive, const TWideName& name, uint64_t time) {
    TPending p;
    p.kind = PendingHeader;
    p.archive = archive;
    p.name = name;
    p.time = time;
    pending_.push_back(p);
  }
  void QueueBlock(TBlockSlot* slot, uint32_t length, uint64_t seed, float position, float base) {
    slot->checked = true;
    slot->seed = seed;
    TPending p;
    p.kind = PendingBlock;
    p.slot = slot;
    p.position = position;
    p.base = base;
    BlockPipeline.Submit(slot, BlockCompress, length);
    pending_.push_back(p);
  }
  void QueueFinish(float end) {
    TPending p;
    p.kind = PendingFinish;
    p.position = p.base = end;
    pending_.push_back(p);
  }

  // A slot to read the next block into: blocks are written, oldest first, until one is free.
  TBlockSlot* Slot(uint32_t length, TOknoSostoyaniya* window) {
    for (;;) {
      if (state_ != EntryWritten) return nullptr;
      if (TBlockSlot* slot = BlockPipeline.FreeSlot(length)) return slot;
      if (pending_.empty()) {  // no slot at all: the run has no working buffer
        Fail(EntryEngineFailed, fileName_.c_str(), "no working buffer", 0);
        return nullptr;
      }
      WriteOldest(window);
    }
  }

  // Writes everything queued; false (with the failure reported) when something could not be.
  bool Drain(TOknoSostoyaniya* window) {
    while (state_ == EntryWritten && !pending_.empty()) WriteOldest(window);
    return state_ == EntryWritten;
  }

  // Ends the run's writing without writing what is queued (a failure or a cancel).
  void Abandon(int32_t result) {
    if (state_ == EntryWritten) state_ = result;
    BlockPipeline.Discard();
    pending_.clear();
  }

  // A failure ends what was queued with it; entries queued afterwards start afresh.
  void StartIfIdle() {
    if (pending_.empty()) state_ = EntryWritten;
  }

 private:
  enum TPendingKind : uint8_t { PendingHeader, PendingBlock, PendingFinish };
  struct TPending {
    TPendingKind kind;
    HANDLE archive = INVALID_HANDLE_VALUE;
    TWideName name;
    uint64_t time = 0;
    TBlockSlot* slot = nullptr;
    float position = 0, base = 0;
  };

  void Fail(int32_t result, const WCHAR* name, const char* reason, DWORD error) {
    if (reason != nullptr)
      ReportFailure(name, reason);
    else
      ReportSystemFailure(name, error);
    Abandon(result);
  }

  void WriteOldest(TOknoSostoyaniya* window) {
    TPending p = pending_.front();
    pending_.pop_front();
    switch (p.kind) {
      case PendingHeader:
        archive_ = p.archive;
        fileName_ = p.name;
        if (!WriteEntryHeader(archive_, p.name.c_str(), uint32_t(p.name.size()), p.time, entryStart_))
          return Fail(EntryInputOutputFailed, fileName_.c_str(), nullptr, GetLastError());
        if (window != nullptr) PumpProgressMessages(window);
        return;
      case PendingBlock: {
        TBlockSlot* slot = BlockPipeline.Oldest();
        const bool compressed = slot->ok;
        const bool written = compressed && WriteEntryBlock(archive_, slot->output, slot->outputLength);
        const DWORD error = GetLastError();
        BlockPipeline.Release(slot);
        if (!compressed && QuitSignalled()) return Fail(EntryCancelled, fileName_.c_str(), "cancelled", 0);
        if (!compressed)
          return Fail(EntryEngineFailed, fileName_.c_str(), "the compression engine could not get its work area", 0);
        if (!written) return Fail(EntryInputOutputFailed, WIDE_TEXT("compressed file"), nullptr, error);
        PostProgress(window, p.position, p.base);
        return;
      }
      case PendingFinish:
        if (!FinishEntry(archive_, entryStart_))
          return Fail(EntryInputOutputFailed, WIDE_TEXT("compressed file"), nullptr, GetLastError());
        PostProgress(window, p.position, p.base);
        return;
    }
  }

  std::deque<TPending> pending_;
  int32_t state_ = EntryWritten;
  HANDLE archive_ = INVALID_HANDLE_VALUE;
  TWideName fileName_;
  uint64_t entryStart_ = 0;
};

TArchiveWriter writer;
TRunTotals queued;

}  // namespace

int32_t QueueFileEntry(HANDLE archive, const TWideName& name, float base, TOknoSostoyaniya* window,
                       uint64_t& lastWriteTime, float end) {
  const WCHAR* wide = name.c_str();
  writer.StartIfIdle();
  if (name.size() > kEntryNameLimit) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return EntrySourceNotOpened;
  }
  HANDLE source = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (source == INVALID_HANDLE_VALUE) return EntrySourceNotOpened;
  FILETIME written = {0, 0};
  lastWriteTime = GetFileTime(source, nullptr, nullptr, &written)
                      ? uint64_t(written.dwHighDateTime) << 32 | written.dwLowDateTime
                      : 0;
  auto fail = [&](int32_t result, const char* reason, bool systemReason) {
    const DWORD error = GetLastError();
    CloseHandle(source);
    if (systemReason)
      ReportSystemFailure(wide, error);
    else if (reason != nullptr)
      ReportFailure(wide, reason);
    writer.Abandon(result);
    return result;
  };

  // The size only paces the progress: the file is read to its end, so one that grows, or one that
  // says 0 but has bytes (a file of /proc), is stored whole. Every chunk but the last is full.
  uint64_t size = 0;
  if (!FileSize64(source, size)) return fail(EntryInputOutputFailed, nullptr, true);
  writer.QueueHeader(archive, name, lastWriteTime);
  const uint64_t seed = EntryCheckSeed(wide, uint32_t(name.size()), kCheckedEntry, lastWriteTime);
  uint64_t blocks = 0;
  uint64_t done = 0;
  for (;;) {
    const uint64_t expected = size > done ? size - done : 1;
    TBlockSlot* slot = writer.Slot(uint32_t(expected < uint64_t(BlockSize) ? expected : BlockSize), window);
    if (slot == nullptr) return fail(writer.State(), nullptr, false);
    // A file that says it is empty is read without a cancel check, as it gives no block.
    if ((done < size || done > 0) && CancelRequested()) return fail(EntryCancelled, "cancelled", false);
    DWORD got = 0;
    if (!ReadFile(source, slot->input, DWORD(BlockSize), &got, nullptr))
      // A read that a quit signal interrupts (one that blocked) ends the run as a cancel.
      return QuitSignalled() ? fail(EntryCancelled, "cancelled", false) : fail(EntryInputOutputFailed, nullptr, true);
    if (got == 0 && blocks > 0) break;  // an empty file still gets one (empty) block
    done += got;
    writer.QueueBlock(slot, got, seed + blocks++, PositionWithin(base, end, done < size ? done : size, size), base);
    if (got < DWORD(BlockSize)) break;  // a read stops short only at the end of the file
  }
  writer.QueueFinish(end);
  CloseHandle(source);
  ++queued.files;
  queued.fileBytes += done;
  return EntryWritten;
}

bool FinishQueuedEntries(TOknoSostoyaniya* window) { return writer.Drain(window); }

TRunTotals QueuedTotals() { return queued; }

int32_t CompressFileEntry(HANDLE archive, const TWideName& name, float base, TOknoSostoyaniya* window,
                          uint64_t& lastWriteTime, float end) {
  const int32_t result = QueueFileEntry(archive, name, base, window, lastWriteTime, end);
  if (result == EntrySourceNotOpened) {
    char reason[1024];
    UnopenedReason(name.c_str(), GetLastError(), reason, sizeof reason);
    ReportFailure(name.c_str(), reason);
  }
  if (result != EntryWritten) return result;
  return FinishQueuedEntries(window) ? EntryWritten : writer.State();
}

