// The walk of an archive's chain of entries, and its three callers: the restore, the test and
// the listing. The walk owns everything they share (the archive's handle and reader, progress and
// cancel, the report of a broken chain, the selection, the reports of names that cannot be
// restored and of reserved bytes other than 0 and 1, the totals); a caller's visit decides what
// happens to one entry and says what came of it.
#include "app/ArchiveWalk.h"

#include <cstdio>
#include <algorithm>
#include <functional>
#include <vector>

#include "app/ArchiveFormat.h"
#include "app/ArchiveRecovery.h"
#include "app/Names.h"
#include "app/Reports.h"
#include "app/RestoreEntry.h"
#include "app/RunControl.h"
#include "app/Run.h"
#include "foundation/Memdiag.h"

namespace {

// One entry as the walk hands it to a visit.
struct TWalkEntry {
  TArchiveReader& reader;
  TEntryHeader& header;  // `checked` already decided
  const TWideName& name;
  bool restorable;  // the stored name may be restored as it is
  bool marked;      // the reserved byte is 0 or 1
  bool decodes;     // the visit decodes it (restore, test)
  TReadAhead* ahead;  // the blocks read ahead of the entries to decode
  float share, nextShare;  // the bar's share before and after this entry
};

// What a caller decodes of the entries, from what the walk finds in an entry's header: whether
// the stored name may be restored and whether its reserved byte is 0 or 1.
using TDecodes = bool (*)(bool restorable, bool marked);
bool DecodesNothing(bool, bool) { return false; }

// The walk's findings on an entry's header: the name may be restored, the reserved byte is one of
// the two defined values; and (when it is) whether the entry was written checked.
struct TFindings {
  bool restorable, marked;
};
TFindings Examine(const TRun& run, TArchiveReader& reader, TEntryHeader& header) {
  const TFindings found{IsRestorableName(header.name, header.nameUnits), header.reserved <= kCheckedEntry};
  header.checked = found.marked && WrittenChecked(reader, header, AcceptedBlockLength(run.BlockSize));
  return found;
}

// What came of one entry's visit.
struct TVisit {
  bool whole = true;        // nothing is wrong with the entry
  bool stop = false;        // the walk ends after this entry (cancelled, halted)
  bool completed = false;   // restored or checked whole
  bool kept = false;        // an existing file an answer No kept
  bool uncheckable = false; // decoded, but made before check values
  bool sizeKnown = false;
  uint64_t size = 0;        // the entry's bytes, as far as they are known
  uint64_t counted = 0;     // what the entry adds to the run's bytes
};

using TVisitor = std::function<TVisit(const TWalkEntry&)>;

// What a whole walk came to.
struct TWalkResult {
  bool whole = true;
  uint32_t walked = 0;  // selected entries met
  uint32_t completed = 0, kept = 0, uncheckable = 0;
  uint64_t bytes = 0, packed = 0;
  bool sizesKnown = true;
};

// The archive open for reading, with its size; reports and gives false when it cannot be.
struct TOpenArchive {
  HANDLE handle = INVALID_HANDLE_VALUE;
  uint64_t size = 0;
  bool Open(const TWideName& name) {
    handle = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
    if (handle != INVALID_HANDLE_VALUE && FileSize64(handle, size)) return true;
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DEVICE))
      ReportName(name.c_str(), "a pipe, device or socket, not an archive");
    else
      ReportSystemFailure(name.c_str(), error);
    return false;
  }
  ~TOpenArchive() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

// A stretch of the archive that the chain could not be followed through, and the entries found
// after it (up to the next such stretch).
struct TDamagedRange {
  uint64_t first, last;
  uint32_t entries;
};

// What the walk knows of the last entry it met, for finding the chain again after it.
struct TChainState {
  uint64_t start = 0;
  uint64_t searched = 0;    // where the last search found an entry
  bool checked = true;      // made with check values (or none met yet)
  bool proven = true;       // decoded or listed whole: its extent is sure
  bool linkTrusted = true;  // its nextEntryOffset may be followed
};

// The report of a chain that ends: cut short inside the entry at `at`, or broken there.
void ReportBreak(const TWideName& archiveName, uint64_t at, bool cut, uint32_t walked, const char* done,
                 const char* why) {
  char reason[260];
  std::snprintf(reason, sizeof reason,
                "damaged: %s at offset %llu; %u %s %s %s, the rest of the archive cannot be read from there%s",
                cut ? "the archive is cut short inside the entry" : "the chain of entries breaks",
                static_cast<unsigned long long>(at), walked, walked == 1 ? "entry" : "entries",
                walked == 1 ? "was" : "were", done, why);
  ReportName(archiveName.c_str(), reason);
}

// An entry lost at a break, named when what its header holds still reads as a name.
void NameLostEntry(const TEntryHeader& header) {
  if (header.nameUnits == 0 || header.reserved > kCheckedEntry || !IsRestorableName(header.name, header.nameUnits))
    return;
  ReportName(TWideName(header.name, header.nameUnits).c_str(), "damaged entry: it cannot be read; lost");
}

// Walks the chain of `archive` from its first entry; `done` ("restored", "checked", "listed")
// names what was done to the entries before a break in the chain. False when there is no memory
// for an entry's header (reported).
bool WalkArchive(TRun& run, const TWideName& archiveName, TOpenArchive& archive, TOknoSostoyaniya* window,
                 TArchiveUse& use, const char* done, TDecodes decodes, const TVisitor& visit, TWalkResult& result) {
  TArchiveReader reader(archive.handle);
  TReadAhead ahead(run, reader, [&](TEntryHeader& next) {
    const TFindings found = Examine(run, reader, next);
    return decodes(found.restorable, found.marked) && use.selection.Matches(next.name, next.nameUnits);
  });
  const uint32_t total = CountEntries(reader);
  TEntryHeader* header = nullptr;
  Create(header, 1);
  if (header == nullptr) {
    ReportName(archiveName.c_str(), "not enough memory");
    return false;
  }
  if (archive.size == 0) {
    ReportName(archiveName.c_str(), "the archive is empty: it holds nothing");
    result.whole = false;
  }
  // The walk follows the chain; where it breaks, the chain is found again after the damage
  // (app/ArchiveRecovery.h) and each damaged range is reported with the entries found after it.
  TChainRecovery recovery(reader);
  std::vector<TDamagedRange> ranges;
  uint64_t at = 0;
  TChainState last;
  while (at < archive.size) {
    const uint32_t walked = result.walked;
    const float share = ShareOf(walked, total);
    PostProgress(window, share, share);
    if (QuitSignalled()) {
      ReportName(archiveName.c_str(), "cancelled");
      result.whole = false;
      break;
    }
    const bool findable = at == 0 || last.checked;
    bool admitted = last.linkTrusted && ReadEntryHeader(reader, at, *header, recovery.Shift());
    if (!admitted && last.linkTrusted && findable && recovery.Mend(at, *header)) {
      // The entry is proven and its blocks say where it ends: only its offset was damaged, or the
      // file ends inside it.
      admitted = true;
      if (header->cut) {
        ReportBreak(archiveName, at, true, walked, done, "");
      } else {
        if (ranges.empty()) ahead.Discard();
        ranges.push_back({at, at + 7, 0});
      }
      result.whole = false;
    }
    if (!admitted) {
      if (findable && last.linkTrusted && at > 0) NameLostEntry(*header);
      // The search starts past the last entry that was proven whole, or else inside the last
      // one walked; never twice at the same offset.
      const uint64_t from = std::max(last.proven && last.linkTrusted ? at + 1 : last.start + 1, last.searched + 1);
      uint64_t found = 0;
      const TChainRecovery::TFind search = findable ? recovery.Find(from, found) : TChainRecovery::NotFound;
      if (search == TChainRecovery::Stopped) {
        ReportName(archiveName.c_str(), "cancelled");
      } else if (search == TChainRecovery::Found) {
        if (ranges.empty()) ahead.Discard();
        ranges.push_back({last.linkTrusted && at < found ? at : last.start, found - 1, 0});
        last.searched = at = found;
        last.linkTrusted = true;
        result.whole = false;
        continue;
      } else if (at == 0) {
        const bool cut = header->nextEntryOffset > archive.size;
        ReportName(archiveName.c_str(),
                   cut ? "not a Velmora archive, or one cut short: its first entry would end past the end of the file"
                       : "not a Velmora archive (its first entry cannot be valid)");
      } else {
        ReportBreak(archiveName, at, last.linkTrusted && header->nextEntryOffset > archive.size, walked, done,
                    !findable ? " (entries made before check values cannot be found again)"
                    : search == TChainRecovery::Exhausted ? " (the search for the entries after it gave up: too much work)"
                                                          : "");
      }
      result.whole = false;
      break;
    }
    if (!ranges.empty()) ++ranges.back().entries;
    last.start = header->start;
    last.checked = header->reserved == kCheckedEntry;
    last.proven = false;
    last.linkTrusted = true;
    if (!use.selection.Selects(header->name, header->nameUnits)) {
      at = header->nextEntryOffset;
      continue;
    }
    const TWideName name =
        header->nameUnits > 0 ? TWideName(header->name, header->nameUnits) : TWideName(WIDE_TEXT("(entry)"));
    // Entries found again after damage come after the ones the chain counted.
    PostEntryProgress(window, walked + 1, std::max(total, walked + 1), name);
    const TFindings found = Examine(run, reader, *header);
    if (!found.restorable) {
      ReportName(name.c_str(), "stored name is absolute, leaves the folder or cannot be restored as it is; skipped");
      result.whole = false;
    }
    // Only 0 and 1 are defined; any other value would leave open whether the entry is checked.
    if (!found.marked) {
      char reason[96];
      std::snprintf(reason, sizeof reason, "damaged entry: its reserved byte is %u, not 0 or 1; skipped",
                    unsigned(header->reserved));
      ReportName(name.c_str(), reason);
      result.whole = false;
    }
    // Blocks read ahead follow the stored chain: after damage each entry reads its own.
    const TVisit v = visit({reader, *header, name, found.restorable, found.marked,
                            decodes(found.restorable, found.marked), ranges.empty() ? &ahead : nullptr, share,
                            ShareOf(walked + 1, total)});
    ahead.Forget(header->start);
    result.whole = result.whole && v.whole;
    result.completed += v.completed;
    result.kept += v.kept;
    result.uncheckable += v.uncheckable;
    result.bytes += v.counted;
    if (v.stop) break;
    result.sizesKnown = result.sizesKnown && v.sizeKnown;
    result.packed += header->nextEntryOffset - header->start;
    ++result.walked;
    last.proven = v.whole && v.sizeKnown;
    // A damaged entry's offset is taken only where its blocks end at it.
    uint64_t size = 0;
    last.linkTrusted = v.whole || !header->checked || header->cut || DeclaredEntrySize(reader, *header, size);
    if (!last.linkTrusted && ranges.empty()) ahead.Discard();
    at = header->nextEntryOffset;
  }
  for (const TDamagedRange& range : ranges) {
    char line[160];
    std::snprintf(line, sizeof line, "bytes %llu to %llu of the archive are damaged; %u %s after them recovered",
                  static_cast<unsigned long long>(range.first), static_cast<unsigned long long>(range.last),
                  range.entries, range.entries == 1 ? "entry" : "entries");
    ReportName(archiveName.c_str(), line);
  }
  Free(header);
  if (!use.selection.ReportUnused()) result.whole = false;
  if (use.totals != nullptr) {
    use.totals->files = result.completed;
    use.totals->fileBytes = result.bytes;
    // A selective run counts the entries it touched, not the archive around them.
    use.totals->archiveBytes = !use.selection.Empty() ? result.packed : at < archive.size ? at : archive.size;
  }
  return true;
}

// Decodes one entry, into `folders` or (a test) nowhere.
TVisit Decode(TRun& run, const TWalkEntry& entry, TRestoreFolders* folders, TOknoSostoyaniya* window) {
  TVisit v;
  uint64_t bytes = 0;
  const TRestoreOutcome outcome =
      RestoreEntry(run, entry.reader, entry.header, folders, bytes, {window, entry.share, entry.nextShare}, entry.ahead);
  v.whole = outcome == RestoreComplete || outcome == RestoreKept;
  v.completed = outcome == RestoreComplete;
  v.kept = outcome == RestoreKept;
  v.stop = (outcome == RestoreCancelled && QuitSignalled()) || outcome == RestoreHalted;
  v.uncheckable = !v.stop && !entry.header.checked;
  v.size = v.counted = bytes;
  v.sizeKnown = v.completed;
  return v;
}

// One line of a listing on standard output: size, packed size, local time, name.
void ListLine(const TEntryHeader& header, bool sizeKnown, uint64_t entrySize) {
  char size[24] = "?";
  if (sizeKnown) std::snprintf(size, sizeof size, "%llu", static_cast<unsigned long long>(entrySize));
  char when[48] = "                   ";
  const FILETIME utc = FileTimeOf(header.lastWriteTime);
  FILETIME local;
  SYSTEMTIME date;
  if (header.lastWriteTime != 0 && FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &date))
    std::snprintf(when, sizeof when, "%04u-%02u-%02u %02u:%02u:%02u", date.wYear, date.wMonth, date.wDay, date.wHour,
                  date.wMinute, date.wSecond);
  char name[4096];
  UnitsAsUtf8(header.name, header.nameUnits, name, sizeof name);
  std::printf("%12s  %12llu  %s  %s\n", size, static_cast<unsigned long long>(header.nextEntryOffset - header.start),
              when, name);
}

// The listing's last line: the exact sums (scripts read them) and the same as people read them.
void ListTotals(uint32_t entries, bool sizesKnown, uint64_t bytes, uint64_t packed) {
  char sum[24] = "?", human[32] = "?", humanPacked[32];
  if (sizesKnown) {
    std::snprintf(sum, sizeof sum, "%llu", static_cast<unsigned long long>(bytes));
    HumanSize(bytes, human, sizeof human);
  }
  HumanSize(packed, humanPacked, sizeof humanPacked);
  std::printf("%12s  %12llu  %u %s: %s in %s\n", sum, static_cast<unsigned long long>(packed), entries,
              entries == 1 ? "entry" : "entries", human, humanPacked);
}

// The test's last line on standard output.
void TestLine(const TWalkResult& result) {
  char line[160];
  std::snprintf(line, sizeof line, "%u %s, %llu bytes checked; %u not checkable (made before check values)",
                result.walked, result.walked == 1 ? "entry" : "entries", static_cast<unsigned long long>(result.bytes),
                result.uncheckable);
  PrintResult(line);
}

// What a finished walk tells: false when it could not walk at all; otherwise whether every
// selected entry up to the end of the file was handled whole.
bool Ended(bool walked, const TWalkResult& result, TOknoSostoyaniya* window) {
  if (!walked) return false;
  std::fflush(stdout);
  if (result.whole) PostProgress(window, 1.0f, 1.0f);
  return result.whole;
}

}  // namespace

bool ListArchive(TRun& run, const TWideName& archiveName, TOknoSostoyaniya* window, TArchiveUse& use) {
  TOpenArchive archive;
  if (!archive.Open(archiveName)) return false;
  TWalkResult result;
  std::printf("%12s  %12s  %-19s  %s\n", "size", "packed", "modified", "name");
  const auto visit = [&](const TWalkEntry& entry) {
    TVisit v;
    if (entry.decodes) {
      v = Decode(run, entry, nullptr, window);
    } else if (entry.marked && entry.header.checked) {
      v.sizeKnown = DeclaredEntrySize(entry.reader, entry.header, v.size);
      v.counted = v.sizeKnown ? v.size : 0;
      if (!v.sizeKnown) {
        ReportName(entry.name.c_str(), "damaged entry: its blocks do not chain");
        v.whole = false;
      }
    }
    if (!v.stop) ListLine(entry.header, v.sizeKnown, v.size);
    return v;
  };
  const TDecodes decodes = use.test ? [](bool, bool marked) { return marked; } : DecodesNothing;
  const bool walked =
      WalkArchive(run, archiveName, archive, window, use, use.test ? "checked" : "listed", decodes, visit, result);
  if (walked) {
    ListTotals(result.walked, result.sizesKnown, result.bytes, result.packed);
    if (use.test) TestLine(result);
  }
  return Ended(walked, result, window);
}

bool TestArchive(TRun& run, const TWideName& archiveName, TOknoSostoyaniya* window, TArchiveUse& use) {
  TOpenArchive archive;
  if (!archive.Open(archiveName)) return false;
  TWalkResult result;
  const auto visit = [&](const TWalkEntry& entry) {
    return entry.decodes ? Decode(run, entry, nullptr, window) : TVisit{false};
  };
  const bool walked = WalkArchive(run, archiveName, archive, window, use, "checked",
                                  [](bool, bool marked) { return marked; }, visit, result);
  if (walked) TestLine(result);
  return Ended(walked, result, window);
}

bool RestoreArchive(TRun& run, const TWideName& archiveName, TOknoSostoyaniya* window, TArchiveUse& use) {
  TOpenArchive archive;
  if (!archive.Open(archiveName)) return false;
  TWalkResult result;
  TRestoreFolders folders;
  if (!folders.Open(use.folder)) {
    ReportSystemFailure(use.folder.empty() ? WIDE_TEXT(".") : use.folder.c_str(), GetLastError());
    return false;
  }
  folders.KeepOff(archive.handle, archiveName);
  const auto visit = [&](const TWalkEntry& entry) {
    return entry.decodes ? Decode(run, entry, &folders, window) : TVisit{false};
  };
  const bool walked = WalkArchive(run, archiveName, archive, window, use, "restored",
                                  [](bool restorable, bool marked) { return restorable && marked; }, visit, result);
  if (walked && result.kept > 0) {
    char line[96];
    std::snprintf(line, sizeof line, "%u existing %s kept; -o replaces them", result.kept,
                  result.kept == 1 ? "file was" : "files were");
    ReportLine(line);
  }
  return Ended(walked, result, window);
}
