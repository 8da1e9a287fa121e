// The compress job: one source file appended to the open compressed file as one checked entry,
// block by block through the run's workers, with progress and a cancel check once per block.
#pragma once
#include <cstdint>
#include <deque>

#include "app/BlockPipeline.h"
#include "app/Names.h"
#include "app/RunSummary.h"
#include "foundation/Tstring.h"
#include "platform/win32.h"
#include "ui/Toknosostoyaniya.h"

// Results of CompressFileEntry; callers treat every value but EntryWritten as failure.
enum : int32_t {
  EntrySourceNotOpened = 0,
  EntryWritten = 1,
  EntryInputOutputFailed = 4,
  EntryEngineFailed = 5,
  EntryCancelled = 6,
};

class TRun;

// The entries being compressed, in archive order: a header, the blocks, the back-patch. Each waits
// here until everything before it is written, so the blocks of one file are compressed while the
// next blocks, or the next files, are read. Only the run's thread uses it.
class TArchiveWriter {
 public:
  explicit TArchiveWriter(TBlockPipeline& pipeline) : pipeline_(pipeline) {}
  // The compressed file's name, for the reports of a failed write.
  void Name(const TWideName& archiveName) { archiveName_ = archiveName; }
  // EntryWritten while nothing has failed, else the first failure's result.
  int32_t State() const { return state_; }

  void QueueHeader(HANDLE archive, const TWideName& name, uint64_t time);
  void QueueBlock(TBlockSlot* slot, uint32_t length, uint64_t seed, float position, float base);
  void QueueFinish(float end);
  // A slot to read the next block into: blocks are written, oldest first, until one is free.
  TBlockSlot* Slot(uint32_t length, TOknoSostoyaniya* window);
  // Writes everything queued; false (with the failure reported) when something could not be.
  bool Drain(TOknoSostoyaniya* window);
  // Ends the run's writing without writing what is queued (a failure or a cancel).
  void Abandon(int32_t result);
  // A failure ends what was queued with it; entries queued afterwards start afresh.
  void StartIfIdle();

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

  void Fail(int32_t result, const WCHAR* name, const char* reason, DWORD error);
  void WriteOldest(TOknoSostoyaniya* window);

  TBlockPipeline& pipeline_;
  TWideName archiveName_ = WIDE_TEXT("compressed file");
  std::deque<TPending> pending_;
  int32_t state_ = EntryWritten;
  HANDLE archive_ = INVALID_HANDLE_VALUE;
  TWideName fileName_;
  uint64_t entryStart_ = 0;
};

// The progress of one file moves the bar from base to end (1 for a single file; the share of the
// files up to and including this one in a folder), so the bar only grows over a whole run.
int32_t CompressFileEntry(TRun& run, HANDLE archive, const TWideName& name, float base, TOknoSostoyaniya* window,
                          uint64_t& lastWriteTime, float end = 1.0f);
// CompressFileEntry for a run of many files: the file is read and its blocks handed to the run's
// workers, and the call returns while they may still be compressed; everything is written in
// order, as the next blocks need slots, and at the latest by FinishQueuedEntries. A failure found
// while writing an earlier entry is reported and returned by the call that finds it. A file that
// cannot be opened gives EntrySourceNotOpened with the last error and no report: the caller says
// what becomes of it.
int32_t QueueFileEntry(TRun& run, HANDLE archive, const TWideName& name, float base, TOknoSostoyaniya* window,
                       uint64_t& lastWriteTime, float end);
bool FinishQueuedEntries(TRun& run, TOknoSostoyaniya* window);
