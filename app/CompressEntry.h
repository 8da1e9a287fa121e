// The compress job: one source file appended to the open compressed file as one checked entry,
// block by block through the run's workers, with progress and a cancel check once per block.
#pragma once
#include <cstdint>

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

// The progress of one file moves the bar from base to end (1 for a single file; the share of the
// files up to and including this one in a folder), so the bar only grows over a whole run.
int32_t CompressFileEntry(HANDLE archive, const TWideName& name, float base, TOknoSostoyaniya* window,
                          uint64_t& lastWriteTime, float end = 1.0f);
// CompressFileEntry for a run of many files: the file is read and its blocks handed to the run's
// workers, and the call returns while they may still be compressed; everything is written in
// order, as the next blocks need slots, and at the latest by FinishQueuedEntries. A failure found
// while writing an earlier entry is reported and returned by the call that finds it. A file that
// cannot be opened gives EntrySourceNotOpened with the last error and no report: the caller says
// what becomes of it.
int32_t QueueFileEntry(HANDLE archive, const TWideName& name, float base, TOknoSostoyaniya* window,
                       uint64_t& lastWriteTime, float end);
bool FinishQueuedEntries(TOknoSostoyaniya* window);
// The files queued so far in this process and their bytes (archiveBytes stays 0).
TRunTotals QueuedTotals();
