// The restore job of one entry: where its file goes (asking before an existing one is replaced),
// its blocks read ahead into the workers' slots and checked there, written in order into a
// temporary that takes the entry's name only when the entry is whole; one line for any damage.
#include "app/RestoreEntry.h"

#include <algorithm>
#include <cstdio>
#include <deque>

#include "app/ArchiveFormat.h"
#include "app/BlockPipeline.h"
#include "app/Run.h"
#include "app/Operaciisfaylamiipapkami.h"
#include "app/Reports.h"
#include "app/TemporaryFile.h"
#include "app/RunControl.h"
#include "engine/Compression.h"
#include "foundation/Memdiag.h"
#include "platform/Beneath.h"
#include "ui/Toknosoobzheniy.h"

namespace {

bool AskYesNo(const WCHAR* text) { return ShowMessageWindowW(nullptr, text, nullptr, MB_YESNO) == IDYES; }

// The report of a block this run's window is too small for.
void WindowReason(uint32_t needed, char* reason, size_t capacity) {
  std::snprintf(reason, capacity, "made with a window of at least %u bytes: restore with -w=%u", needed, needed);
}

// Where a restore writes an entry before it takes the entry's name, and what it does with it. A
// test (no folders) writes nothing and only reports.
struct TRestoreTarget {
  const WCHAR* name;        // the entry's name, for the reports
  bool testOnly = false;
  HANDLE folder = nullptr;  // the folder the file goes into
  const WCHAR* leaf = nullptr;  // the file's name in that folder
  bool existed = false;     // a file of that name was there: it is replaced only by a whole entry
  TTemporaryFile file;

  bool Write(const uint8_t* bytes, uint32_t length) { return testOnly || WriteExact(file.Handle(), bytes, length); }

  // A whole entry takes its name with the stored time; false (reported) when it cannot. A file
  // is replaced only where one was when the user was asked (or -o was given).
  bool Finish(uint64_t lastWriteTime) {
    if (testOnly) return true;
    if (lastWriteTime != 0) {
      const FILETIME time = FileTimeOf(lastWriteTime);
      SetFileTime(file.Handle(), nullptr, nullptr, &time);
    }
    if (file.Commit(leaf, existed)) return true;
    const DWORD error = GetLastError();
    char reason[960], line[1024];
    if (!existed && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS))
      std::snprintf(reason, sizeof reason, "an item of that name appeared while it was restored and was left as it was");
    else
      SystemReason(error, reason, sizeof reason);
    std::snprintf(line, sizeof line, "%s; nothing was kept", reason);
    ReportName(name, line);
    return false;
  }

  // Ends a failed entry with one line that says what became of the file. Only damage in the
  // archive keeps a part, and only where no file was: what could be restored is all there is.
  // A checked entry keeps one only once a block has proven its name (the check values' seed is
  // the header): a damaged name would otherwise leave a file no archive held.
  void Fail(const char* reason, bool damage) {
    if (testOnly) {
      ReportName(name, reason);
      return;
    }
    const bool kept = damage && !existed && file.Commit(leaf, false);
    file.Discard();
    char line[512];
    std::snprintf(line, sizeof line, "%s; %s", reason,
                  existed ? "the existing file was left as it was"
                          : kept ? "the file holds what could be restored" : "nothing was kept");
    ReportName(name, line);
  }
};

// The entry cannot be restored where its name leads; one line says why.
TRestoreOutcome Skipped(const WCHAR* name, DWORD error) {
  if (error == ERROR_CANT_RESOLVE_FILENAME) {
    ReportName(name, "a symbolic link lies in its path; skipped");
  } else {
    char reason[960], line[1024];
    SystemReason(error, reason, sizeof reason);
    std::snprintf(line, sizeof line, "%s; skipped", reason);
    ReportName(name, line);
  }
  return RestoreSkipped;
}

// Finds where the entry goes, asks before an existing file is replaced, and opens the temporary.
// RestoreComplete when the blocks may be restored; otherwise what became of the entry.
TRestoreOutcome Prepare(TRun& run, TRestoreTarget& target, TRestoreFolders& folders) {
  const WCHAR* name = target.name;
  target.folder = folders.Reach(target.name, target.leaf);
  if (target.folder == nullptr) return Skipped(name, GetLastError());
  // Existence is what the folder holds, not what this process may open: a file it cannot read
  // is asked about like any other. Only a regular file is ever replaced.
  const DWORD attributes = GetFileAttributesBeneath(target.folder, target.leaf);
  target.existed = attributes != INVALID_FILE_ATTRIBUTES;
  if (target.existed && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return Skipped(name, ERROR_CANT_RESOLVE_FILENAME);
  if (target.existed && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ReportName(name, "a folder of that name is in the way; skipped");
    return RestoreSkipped;
  }
  if (target.existed && (attributes & FILE_ATTRIBUTE_DEVICE)) {
    ReportName(name, "a pipe, device or socket of that name is in the way; skipped");
    return RestoreSkipped;
  }
  if (target.existed) {
    HANDLE existing = CreateFileBeneath(target.folder, target.leaf, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    const bool archiveItself = folders.IsArchive(target.folder, target.leaf, existing);
    if (existing != INVALID_HANDLE_VALUE) CloseHandle(existing);
    if (archiveItself) {
      ReportName(name, "the entry names the compressed file itself; skipped");
      return RestoreSkipped;
    }
  }
  if (run.askBeforeOverwrite && target.existed) {
    const bool yes = AskYesNo(OverwriteQuestion(target.name).c_str());
    if (QuitSignalled()) {
      ReportName(name, "cancelled; the existing file was left as it was");
      return RestoreCancelled;
    }
    if (!yes) return RestoreKept;
    run.overwriteYesCount = int8_t(uint8_t(run.overwriteYesCount) + 1);
    if (run.overwriteYesCount == 3 && AskYesNo(WIDE_TEXT("Overwrite all files?"))) run.askBeforeOverwrite = false;
  }
  if (!target.file.Create(target.folder)) return Skipped(name, GetLastError());
  return RestoreComplete;
}

// What a checked block's verdict says, for the report.
void VerdictReason(TBlockVerdict verdict, uint32_t block, uint32_t restored, uint32_t declared, char* reason,
                   size_t capacity) {
  switch (verdict) {
    case BlockTrailerMissing:
      std::snprintf(reason, capacity, "damaged entry: block %u has no trailer", block);
      break;
    case BlockLengthDiffers:
      std::snprintf(reason, capacity, "damaged entry: block %u restores to %u bytes, its trailer says %u", block,
                    restored, declared);
      break;
    case BlockCheckDiffers:
      std::snprintf(reason, capacity, "damaged entry: block %u does not match its check value", block);
      break;
    default:
      std::snprintf(reason, capacity, "damaged entry: block %u cannot be restored", block);
      break;
  }
}

// What reading an entry's next block gave.
enum TBlockRead : uint8_t {
  ReadWhole,           // the payload is in the slot, for the workers
  ReadLengthCut,       // the entry ends inside a block's length
  ReadPastEntry,       // the block runs past the end of its entry
  ReadCut,             // the file ends inside the block, or a read failed
  ReadTrailerMissing,  // a checked block shorter than its trailer
  ReadTooLarge,        // a checked block declares more than any window holds
  ReadNeedsWindow,     // a checked block needs a window of record.needed: the buffers grow to it
  ReadBeyondWindow,    // a block without trailer made with a window of at least record.needed
};

struct TBlockRecord {
  uint32_t length = 0;    // the payload's length
  uint32_t declared = 0;  // the chunk length its trailer declares (checked blocks)
  uint32_t needed = 0;    // the window it needs (ReadNeedsWindow, ReadBeyondWindow, ReadTooLarge)
};

// Reads the block at `at`, `left` bytes before the entry's end, into the slot. A checked block
// that this run's buffers cannot hold is not read: its trailer, read in place, says the window it
// needs. A block without trailer is read only when the run's window takes it: a compressed form
// longer than the window would run into the output area, which the engine writes while it still
// reads the payload (only the stored form may overlap it).
TBlockRead ReadBlock(int32_t BlockSize, TArchiveReader& archive, uint64_t at, uint64_t left, bool checked,
                     TBlockSlot* slot, TBlockRecord& record) {
  const uint32_t limit = AcceptedBlockLength(BlockSize);
  const uint32_t window = uint32_t(BlockSize);
  uint8_t field[8];
  archive.Seek(at);
  if (left < 4 || !archive.Read(field, 4)) return ReadLengthCut;
  const uint32_t length = record.length = Load32(field);
  if (length > left - 4) return ReadPastEntry;
  if (checked) {
    if (length < kBlockTrailerBytes) return ReadTrailerMissing;
    if (length <= limit) {
      if (!archive.Read(slot->input, length)) return ReadCut;
      TrailerChunkLength(slot->input, length, record.declared);
    } else {
      archive.Seek(at + 4 + length - kBlockTrailerBytes);
      if (!archive.Read(field, kBlockTrailerBytes)) return ReadCut;
      record.declared = Load32(field);
    }
    // A payload too long to read here is taken for the stored form until it is read.
    const bool compressedForm = length <= limit && !IsStoredForm(slot->input, length);
    const uint32_t prePass = compressedForm ? Load32(slot->input) : 0;
    if (WindowHoldsBlock(window, length, record.declared, compressedForm, prePass)) return ReadWhole;
    record.needed = WindowForBlock(length, record.declared, compressedForm, prePass);
    return record.needed > kLargestWindow ? ReadTooLarge : ReadNeedsWindow;
  }
  if (length > limit) {
    // Too long to read here: its header still tells the stored form's length, or a lower bound.
    if (length < 8 || !archive.Read(field, 8)) return ReadCut;
    record.needed = IsStoredForm(field, length) ? length - kStoredHeaderBytes : length;
    return ReadBeyondWindow;
  }
  if (!archive.Read(slot->input, length)) return ReadCut;
  if (length > window && !IsStoredForm(slot->input, length)) {
    record.needed = length;
    return ReadBeyondWindow;
  }
  return ReadWhole;
}

// The report of a block that could not be read.
void DamageText(TBlockRead read, uint32_t block, const TBlockRecord& record, char* text, size_t capacity) {
  switch (read) {
    case ReadLengthCut: std::snprintf(text, capacity, "damaged entry: a block length is cut off"); break;
    case ReadPastEntry: std::snprintf(text, capacity, "damaged entry: a block runs past the end of its entry"); break;
    case ReadTrailerMissing: VerdictReason(BlockTrailerMissing, block, 0, 0, text, capacity); break;
    case ReadTooLarge:
      std::snprintf(text, capacity, "damaged entry: block %u declares %u bytes, more than a window holds", block,
                    record.needed);
      break;
    case ReadBeyondWindow: WindowReason(record.needed, text, capacity); break;
    default: std::snprintf(text, capacity, "damaged entry: a block is cut off"); break;
  }
}

// The check seed of an entry's first block (0 for an entry made before check values).
uint64_t SeedOf(const TEntryHeader& header) {
  return header.checked ? EntryCheckSeed(header.name, header.nameUnits, kCheckedEntry, header.lastWriteTime) : 0;
}

}  // namespace

TReadAhead::TReadAhead(TRun& run, TArchiveReader& archive, std::function<bool(TEntryHeader&)> decodes)
    : run_(run), archive_(archive), decodes_(std::move(decodes)) {
  Create(header_, 1);
}

TReadAhead::~TReadAhead() {
  if (!blocks_.empty()) run_.BlockPipeline.Discard();
  if (header_ != nullptr) Free(header_);
}

bool TReadAhead::Open(uint64_t at) {
  reading_ = false;
  while (header_ != nullptr && at < archive_.Size()) {
    if (!ReadEntryHeader(archive_, at, *header_)) break;
    if (decodes_(*header_)) {
      reading_ = true;
      entry_ = at;
      done_ = 0;
      number_ = 0;
      seed_ = SeedOf(*header_);
      return true;
    }
    at = header_->nextEntryOffset;
  }
  blocked_ = true;
  return false;
}

void TReadAhead::Fill(uint64_t from) {
  // Reading ahead waits until half the slots are free, so that one wake-up of the workers serves
  // several blocks.
  if (blocked_ || !run_.BlockPipeline.HalfFree()) return;
  if ((!reading_ || entry_ < from) && (!blocks_.empty() || !Open(from))) return;
  while (ReadNext()) {
  }
  run_.BlockPipeline.Flush();
}

bool TReadAhead::ReadNext() {
  const uint64_t total = header_->nextEntryOffset - header_->firstBlock;
  if (done_ == total) return Open(header_->nextEntryOffset);
  TBlockSlot* slot = run_.BlockPipeline.FreeSlot(uint32_t(run_.BlockSize));
  if (slot == nullptr) return false;
  TBlockRecord record;
  if (ReadBlock(run_.BlockSize, archive_, header_->firstBlock + done_, total - done_, header_->checked, slot, record) != ReadWhole) {
    blocked_ = true;
    return false;
  }
  done_ += uint64_t(record.length) + 4;
  slot->checked = header_->checked;
  slot->seed = seed_ + number_;
  run_.BlockPipeline.Submit(slot, BlockRestore, record.length, true);
  blocks_.push_back({entry_, done_, number_++, record.declared});
  return true;
}

void TReadAhead::Claim(const TEntryHeader& header, std::deque<TBlock>& blocks, uint64_t& done, uint32_t& number) {
  // Blocks of another entry ahead of this one's in the pipeline would be taken for its own.
  if (!blocks_.empty() && blocks_.front().entry != header.start && header.nextEntryOffset > header.firstBlock)
    Discard();
  for (; !blocks_.empty() && blocks_.front().entry == header.start; blocks_.pop_front()) {
    blocks.push_back(blocks_.front());
    done = blocks_.front().readAfter;
    number = blocks_.front().number + 1;
  }
  // The entry reads on itself from here; reading ahead starts again after it.
  if (reading_ && entry_ <= header.start) reading_ = blocked_ = false;
}

void TReadAhead::Forget(uint64_t entry) {
  for (; !blocks_.empty() && blocks_.front().entry == entry; blocks_.pop_front())
    run_.BlockPipeline.Release(run_.BlockPipeline.Oldest());
  if (reading_ && entry_ == entry) reading_ = blocked_ = false;
}

void TReadAhead::Discard() {
  run_.BlockPipeline.Discard();
  blocks_.clear();
  reading_ = blocked_ = false;
}

TRestoreOutcome RestoreEntry(TRun& run, TArchiveReader& archive, const TEntryHeader& header, TRestoreFolders* folders,
                             uint64_t& restoredBytes, const TProgressSpan& progress, TReadAhead* ahead) {
  TRestoreTarget target;
  target.name = header.name;
  target.testOnly = folders == nullptr;
  if (!target.testOnly) {
    const TRestoreOutcome prepared = Prepare(run, target, *folders);
    if (prepared != RestoreComplete) return prepared;
  }
  const bool checked = header.checked;
  bool nameProven = !checked;
  auto failed = [&](const char* reason, bool damage) {
    target.Fail(reason, damage && nameProven);
    return RestoreDamaged;
  };

  const uint64_t start = header.firstBlock;
  if (!run.BlockPipeline.Started()) return failed("no working buffer", false);
  const uint64_t total = header.nextEntryOffset - start;
  // Blocks are read ahead into the workers' slots and written in order. Damage found while reading
  // is reported once the blocks before it are written, so a new file keeps all that was whole. A
  // checked block too large for this run's buffers makes them grow, once the blocks before it are
  // written, to what its trailer declares.
  char damage[160] = "";
  bool damageInArchive = true;
  uint32_t growTo = 0;  // with TReading::NeedsWindow: the window the next block needs
  std::deque<TReadAhead::TBlock> inFlight;
  uint32_t blockNumber = 0;
  uint64_t done = 0;
  if (ahead != nullptr) ahead->Claim(header, inFlight, done, blockNumber);
  // What the reading of the entry's blocks has come to; the blocks in flight are written whatever
  // it is, but after a cancel.
  enum class TReading { More, AllRead, Damaged, Cancelled, NeedsWindow };
  TReading reading = done < total ? TReading::More : TReading::AllRead;
  // The check seed of the blocks the entry reads itself (those read ahead carry theirs).
  const uint64_t seed = done < total ? SeedOf(header) : 0;
  const auto discard = [&] { ahead != nullptr ? ahead->Discard() : run.BlockPipeline.Discard(); };
  for (;;) {
    TBlockSlot* slot = nullptr;
    while (reading == TReading::More && (slot = run.BlockPipeline.FreeSlot(uint32_t(run.BlockSize))) != nullptr) {
      if (CancelRequested()) {
        reading = TReading::Cancelled;
        break;
      }
      TBlockRecord record;
      const TBlockRead read = ReadBlock(run.BlockSize, archive, start + done, total - done, checked, slot, record);
      if (read != ReadWhole && QuitSignalled()) {  // a read the signal interrupted
        reading = TReading::Cancelled;
        break;
      }
      if (read == ReadNeedsWindow) {
        growTo = record.needed;
        reading = TReading::NeedsWindow;
        break;
      }
      if (read != ReadWhole && header.cut && (read == ReadPastEntry || read == ReadLengthCut)) {
        std::snprintf(damage, sizeof damage, "damaged entry: the archive is cut short inside it");
      } else if (read != ReadWhole) {
        DamageText(read, blockNumber, record, damage, sizeof damage);
        damageInArchive = read != ReadBeyondWindow;
      }
      if (damage[0] != 0) {
        reading = TReading::Damaged;
        break;
      }
      done += uint64_t(record.length) + 4;
      slot->checked = checked;
      slot->seed = seed + blockNumber;
      run.BlockPipeline.Submit(slot, BlockRestore, record.length);
      inFlight.push_back({header.start, done, blockNumber++, record.declared});
      if (done == total) reading = TReading::AllRead;
    }
    if (reading == TReading::Cancelled) {
      discard();
      break;
    }
    // Once its own blocks are all read, the entry reads ahead of the next ones while it writes.
    if (ahead != nullptr && reading == TReading::AllRead) ahead->Fill(header.nextEntryOffset);
    if (inFlight.empty()) {
      if (reading != TReading::NeedsWindow) break;
      if (ahead != nullptr) ahead->Discard();
      const int32_t previous = run.BlockSize;
      if (run.AllocateBlockBuffer(int32_t(growTo), BlockRestore)) {
        reading = TReading::More;
        continue;
      }
      if (!run.AllocateBlockBuffer(previous, BlockRestore)) {
        target.Fail("the working buffer cannot be had again; the restore stops", false);
        return RestoreHalted;
      }
      std::snprintf(damage, sizeof damage, "block %u needs a window of %u bytes, more than can be had here",
                    blockNumber, growTo);
      damageInArchive = false;
      reading = TReading::Damaged;
      break;
    }
    TBlockSlot* oldest = run.BlockPipeline.Oldest();
    const TReadAhead::TBlock block = inFlight.front();
    inFlight.pop_front();
    char reason[160] = "";
    bool isDamage = true;
    if (!oldest->ok && oldest->checked) {
      VerdictReason(oldest->verdict, block.number, oldest->outputLength, block.declared, reason, sizeof reason);
    } else if (!oldest->ok) {
      const uint32_t needed = CapacityNeeded(oldest->input, oldest->inputLength);
      isDamage = needed <= 2 * uint32_t(run.BlockSize);
      if (!isDamage)
        WindowReason(needed, reason, sizeof reason);
      else
        std::snprintf(reason, sizeof reason, "damaged entry: a block cannot be restored");
    } else if (!target.Write(oldest->output, oldest->outputLength)) {
      if (QuitSignalled())
        std::snprintf(reason, sizeof reason, "cancelled");
      else
        SystemReason(GetLastError(), reason, sizeof reason);
      isDamage = false;
    } else {
      restoredBytes += oldest->outputLength;
      nameProven = true;
    }
    run.BlockPipeline.Release(oldest);
    if (reason[0] != 0) {
      discard();
      return failed(reason, isDamage);
    }
    PostProgress(progress.window, PositionWithin(progress.base, progress.end, block.readAfter, total), progress.base);
  }
  if (reading == TReading::Cancelled) {
    target.Fail("cancelled", false);
    return RestoreCancelled;
  }
  if (reading == TReading::Damaged) return failed(damage, damageInArchive);
  if (!target.Finish(header.lastWriteTime)) return RestoreSkipped;
  PostProgress(progress.window, progress.end, progress.end);
  return RestoreComplete;
}
