// The compress job. Files are read on the run's thread into free slots and their blocks handed to
// the workers; a writer queue keeps headers, blocks and back-patches in archive order, so the next
// file is read while the blocks of the one before it are still compressed.
#include "app/CompressEntry.h"

#include <cstdio>
#include <deque>

#include "app/ArchiveFormat.h"
#include "app/Reports.h"
#include "app/Run.h"
#include "app/RunControl.h"

// Entries wait in the writer until everything before them is written, so the blocks of one file
// are compressed while the next blocks, or the next files, are read. Only the run's thread uses it.

void TArchiveWriter::QueueHeader(HANDLE archive, const TWideName& name, uint64_t time) {
  TPending p;
  p.kind = PendingHeader;
  p.archive = archive;
  p.name = name;
  p.time = time;
  pending_.push_back(p);
}

void TArchiveWriter::QueueBlock(TBlockSlot* slot, uint32_t length, uint64_t seed, float position, float base) {
  slot->checked = true;
  slot->seed = seed;
  TPending p;
  p.kind = PendingBlock;
  p.slot = slot;
  p.position = position;
  p.base = base;
  pipeline_.Submit(slot, BlockCompress, length);
  pending_.push_back(p);
}

void TArchiveWriter::QueueFinish(float end) {
  TPending p;
  p.kind = PendingFinish;
  p.position = p.base = end;
  pending_.push_back(p);
}

TBlockSlot* TArchiveWriter::Slot(uint32_t length, TOknoSostoyaniya* window) {
  for (;;) {
    if (state_ != EntryWritten) return nullptr;
    if (TBlockSlot* slot = pipeline_.FreeSlot(length)) return slot;
    if (pending_.empty()) {  // no slot at all: the run has no working buffer
      Fail(EntryEngineFailed, fileName_.c_str(), "no working buffer", 0);
      return nullptr;
    }
    WriteOldest(window);
  }
}

bool TArchiveWriter::Drain(TOknoSostoyaniya* window) {
  while (state_ == EntryWritten && !pending_.empty()) WriteOldest(window);
  return state_ == EntryWritten;
}

void TArchiveWriter::Abandon(int32_t result) {
  if (state_ == EntryWritten) state_ = result;
  pipeline_.Discard();
  pending_.clear();
}

void TArchiveWriter::StartIfIdle() {
  if (pending_.empty()) state_ = EntryWritten;
}

void TArchiveWriter::Fail(int32_t result, const WCHAR* name, const char* reason, DWORD error) {
  if (reason != nullptr)
    ReportName(name, reason);
  else
    ReportSystemFailure(name, error);
  Abandon(result);
}

void TArchiveWriter::WriteOldest(TOknoSostoyaniya* window) {
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
      TBlockSlot* slot = pipeline_.Oldest();
      const bool compressed = slot->ok;
      const bool written = compressed && WriteEntryBlock(archive_, slot->output, slot->outputLength);
      const DWORD error = GetLastError();
      pipeline_.Release(slot);
      if (!compressed && QuitSignalled()) return Fail(EntryCancelled, fileName_.c_str(), "cancelled", 0);
      if (!compressed)
        return Fail(EntryEngineFailed, fileName_.c_str(), "the compression engine could not get its work area", 0);
      if (!written) return Fail(EntryInputOutputFailed, archiveName_.c_str(), nullptr, error);
      PostProgress(window, p.position, p.base);
      return;
    }
    case PendingFinish:
      if (!FinishEntry(archive_, entryStart_))
        return Fail(EntryInputOutputFailed, archiveName_.c_str(), nullptr, GetLastError());
      PostProgress(window, p.position, p.base);
      return;
  }
}

int32_t QueueFileEntry(TRun& run, HANDLE archive, const TWideName& name, float base, TOknoSostoyaniya* window,
                       uint64_t& lastWriteTime, float end) {
  TArchiveWriter& writer = run.writer;
  const int32_t BlockSize = run.BlockSize;
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
      ReportName(wide, reason);
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
  ++run.queued.files;
  run.queued.fileBytes += done;
  return EntryWritten;
}

bool FinishQueuedEntries(TRun& run, TOknoSostoyaniya* window) { return run.writer.Drain(window); }

int32_t CompressFileEntry(TRun& run, HANDLE archive, const TWideName& name, float base, TOknoSostoyaniya* window,
                          uint64_t& lastWriteTime, float end) {
  const int32_t result = QueueFileEntry(run, archive, name, base, window, lastWriteTime, end);
  if (result == EntrySourceNotOpened) {
    char reason[1024];
    UnopenedReason(name.c_str(), GetLastError(), reason, sizeof reason);
    ReportName(name.c_str(), reason);
  }
  if (result != EntryWritten) return result;
  return FinishQueuedEntries(run, window) ? EntryWritten : run.writer.State();
}

