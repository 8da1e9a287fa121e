// The file jobs on small windows: block cutting, the restore limits (too long, compressed form
// beyond the window), the cancel check, and the names a restore accepts.
#if !defined(_WIN32)
#include <sched.h>
#endif

#include <cstdlib>

#include "AppTestSupport.h"
#include "app/ArchiveFormat.h"
#include "app/ArchiveWalk.h"
#include "app/Names.h"
#include "app/CompressEntry.h"
#include "app/Reports.h"
#include "app/RestoreEntry.h"
#include "app/RunSummary.h"
#include "app/Selection.h"
#include "app/RunControl.h"
#include "app/Run.h"
#include "engine/Compression.h"

namespace {

TBytes Prose(size_t n) {
  static const char line[] = "the quick brown fox jumps over the lazy dog; ";
  TBytes bytes;
  for (size_t i = 0; i < n; ++i) bytes.push_back(uint8_t(line[i % (sizeof line - 1)]));
  return bytes;
}

// Every test runs in a scratch folder that is the current directory, as the driver arranges.
class JobsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char here[4096];
    ASSERT_NE(0u, GetCurrentDirectoryA(sizeof here, here));
    saved = here;
    ASSERT_TRUE(SetCurrentDirectoryA(scratch.narrow.c_str()));
    DrainThreadMessages(false);
  }
  void TearDown() override {
    run.ReleaseBlockBuffer();
    DrainThreadMessages(false);
    SetCurrentDirectoryA(saved.c_str());
  }
  std::string Path(const char* name) const { return scratch.system + "/" + name; }
  // The file restored into the folder `target`: the last file compressed, by its own name.
  TBytes Restored(const char* target) const { return ReadAll(scratch.system + "/" + target + "/" + compressed); }
  std::string compressed;
  TRun run;  // each test's own: nothing of one run reaches the next

  // Compresses `name` into a new archive x.pck with the given window; returns the job's result.
  int32_t Compress(const char* name, int32_t window) {
    EXPECT_TRUE(run.AllocateBlockBuffer(window, BlockCompress));
    HANDLE archive = CreateFileA("x.pck", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, archive);
    uint64_t time = 77;
    compressed = name;
    const int32_t result = CompressFileEntry(run, archive, Wide(name), 0.0f, nullptr, time);
    CloseHandle(archive);
    return result;
  }
  // Restores the first entry of x.pck into the folder `target` with the given window.
  TRestoreOutcome Restore(const char* target, int32_t window) {
    EXPECT_TRUE(run.AllocateBlockBuffer(window, BlockRestore));
    HANDLE archive = CreateFileA("x.pck", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, archive);
    TArchiveReader reader(archive);
    TEntryHeader header;
    EXPECT_TRUE(ReadEntryHeader(reader, 0, header));
    header.checked = WrittenChecked(reader, header, AcceptedBlockLength(window));
    run.askBeforeOverwrite = false;
    TRestoreFolders folders;
    EXPECT_TRUE(folders.Open(Wide(target)));
    uint64_t bytes = 0;
    const TRestoreOutcome outcome = RestoreEntry(run, reader, header, &folders, bytes, TProgressSpan());
    CloseHandle(archive);
    return outcome;
  }
  // Payload lengths of the first entry's blocks.
  std::vector<uint32_t> BlockLengths() {
    const TBytes archive = ReadAll(Path("x.pck"));
    std::vector<uint32_t> lengths;
    uint32_t units = 0;
    while (Load32(archive.data() + 8 + 2 * units) & 0xFFFF) ++units;
    for (uint64_t at = EntryHeaderSize(units); at + 4 <= archive.size(); at += 4 + lengths.back())
      lengths.push_back(Load32(archive.data() + at));
    return lengths;
  }

  TScratchFolder scratch;
  std::string saved;
};

// A missing source writes nothing and is reported (the end-to-end scripts cut real files into
// blocks and restore them).
TEST_F(JobsTest, MissingSourceWritesNothingAndIsReported) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(EntrySourceNotOpened, Compress("absent.txt", 4096));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("absent.txt: "), std::string::npos);
  EXPECT_TRUE(ReadAll(Path("x.pck")).empty());
}

TEST_F(JobsTest, PendingQuitCancelsAtTheFirstBlockButNotAnEmptyFile) {
  WriteAll(Path("s.txt"), Prose(10000));
  PostQuitMessage(0);
  EXPECT_EQ(EntryCancelled, Compress("s.txt", 4096));
  const TBytes cancelled = ReadAll(Path("x.pck"));
  EXPECT_TRUE(cancelled.size() < 8 || Load64(cancelled.data()) == 0) << "a cancelled entry is never back-patched";

  // A released Escape key counts like WM_QUIT, and the check drops every message it removes.
  PostMessageA(nullptr, WM_USER + 7, 0, 0);
  PostMessageA(nullptr, WM_KEYUP, VK_ESCAPE, 0);
  EXPECT_TRUE(CancelRequested());
  PostMessageA(nullptr, WM_KEYUP, 'A', 0);
  EXPECT_FALSE(CancelRequested());
  MSG left;
  EXPECT_FALSE(PeekMessageA(&left, nullptr, 0, 0, PM_NOREMOVE));

  // A restore is cancelled at its first block too: nothing of the entry is written.
  ASSERT_EQ(EntryWritten, Compress("s.txt", 4096));
  PostQuitMessage(0);
  EXPECT_EQ(RestoreCancelled, Restore("back.txt", 4096));
  EXPECT_TRUE(Restored("back.txt").empty());

  WriteAll(Path("e.txt"), {});
  PostQuitMessage(0);
  EXPECT_EQ(EntryWritten, Compress("e.txt", 4096)) << "no chunk, so no cancel check";
  EXPECT_EQ(ReadAll(Path("x.pck")).size(), 29u + 4 + 8 + 8) << "one empty stored block and its trailer";
}

// A quit signal heard between entries ends the walk of an archive as a failure, on one line that
// says so (in a child process: the signal's note lasts for the rest of a process).
TEST_F(JobsTest, QuitSignalBetweenEntriesEndsTheWalkAsCancelled) {
  WriteAll(Path("s.txt"), Prose(10000));
  ASSERT_EQ(EntryWritten, Compress("s.txt", 4096));
  run.ReleaseBlockBuffer();
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto testAfterSignal = [this] {
    NoteQuitSignal();
    TArchiveUse use;
    std::exit(TestArchive(run, Wide("x.pck"), nullptr, use) ? 0 : 1);
  };
  EXPECT_EXIT(testAfterSignal(), ::testing::ExitedWithCode(1), "x\\.pck: cancelled");
}

TEST_F(JobsTest, TinyWindowRestoresItsOwnStoredFullBlocks) {
  const TBytes data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  WriteAll(Path("t.bin"), data);
  ASSERT_EQ(EntryWritten, Compress("t.bin", 5));
  const std::vector<uint32_t> lengths = BlockLengths();
  ASSERT_EQ(3u, lengths.size());
  EXPECT_EQ(21u, lengths[0]) << "a stored full block and its trailer are window + 16 bytes, more than 2 x window";
  EXPECT_EQ(RestoreComplete, Restore("t.out", 5));
  EXPECT_EQ(data, Restored("t.out"));
}

TEST_F(JobsTest, SmallerWindowRefusesLongerBlocksWithoutTouchingMemoryOutsideTheBuffer) {
  // One 64 KiB block of text compresses to a compressed-form payload of a few KiB.
  const TBytes data = Prose(65536);
  WriteAll(Path("s.txt"), data);
  ASSERT_EQ(EntryWritten, Compress("s.txt", 65536));
  const std::vector<uint32_t> lengths = BlockLengths();
  ASSERT_EQ(1u, lengths.size());
  ASSERT_LT(lengths[0], 65536u);

  // A checked entry tells the window it needs: any smaller window restores it.
  for (int32_t smaller : {int32_t(lengths[0] / 3), 1000, 5})
    EXPECT_EQ(RestoreComplete, Restore("grown.out", smaller)) << smaller;
  EXPECT_EQ(data, Restored("grown.out"));

  // An archive made before trailers (mark 0, nothing after the block's last section): the window
  // rule holds.
  TBytes archive = ReadAll(Path("x.pck"));
  const uint32_t header = 8 + 2 * 6 + 1 + 8;
  archive[header - 9] = 0;
  Store64(archive.data(), archive.size() - 8);
  Store32(archive.data() + header, lengths[0] - 8);
  archive.resize(archive.size() - 8);
  WriteAll(Path("x.pck"), archive);
  // The payload is within 2 x window but longer than the window: refused, never decoded over
  // the output area it overlaps.
  const int32_t window = int32_t(lengths[0] * 3 / 4);
  EXPECT_EQ(RestoreDamaged, Restore("a.out", window));
  EXPECT_TRUE(Restored("a.out").empty());
  // Over 2 x window: refused by its length.
  EXPECT_EQ(RestoreDamaged, Restore("b.out", int32_t(lengths[0] / 3)));
  EXPECT_TRUE(Restored("b.out").empty());
  // A window big enough for the payload but not for the restored bytes: the engine refuses it.
  EXPECT_EQ(RestoreDamaged, Restore("c.out", int32_t(lengths[0] + 16)));
  EXPECT_TRUE(Restored("c.out").empty());
  // The window it was made with restores it.
  EXPECT_EQ(RestoreComplete, Restore("d.out", 65536));
  EXPECT_EQ(data, Restored("d.out"));
}

TEST_F(JobsTest, ACheckedBlockWhosePrePassOutgrowsItsChunkGrowsTheWindowToFitIt) {
  // Lone zero bytes grow in the pre-pass: the compressed form is rebuilt at more than the chunk,
  // which a window of half the chunk (capacity = the chunk) cannot hold.
  TBytes data = Prose(65536);
  for (uint8_t& b : data) b = b == ' ' ? 0 : b;
  WriteAll(Path("z.txt"), data);
  ASSERT_EQ(EntryWritten, Compress("z.txt", 65536));
  const TBytes archive = ReadAll(Path("x.pck"));
  const uint32_t prePass = Load32(archive.data() + 29 + 4);
  ASSERT_GT(prePass, 65536u);
  EXPECT_EQ(RestoreComplete, Restore("z.out", 32768));
  EXPECT_EQ(data, Restored("z.out"));
}

TEST_F(JobsTest, BlockBufferRefusesUnworkableWindows) {
  ASSERT_TRUE(run.AllocateBlockBuffer(5, BlockCompress));
  for (int32_t window : {0, -1, 0x7FFFFFFF}) {  // the last: 3 x window does not fit 32 bits
    EXPECT_FALSE(run.AllocateBlockBuffer(window, BlockCompress)) << window;
    EXPECT_EQ(nullptr, run.BlockBuffer);
  }
}

// Blocks in flight, handed to the workers or not, are all gone after a Discard: none is taken back
// for the next entry's.
TEST_F(JobsTest, DiscardLeavesNoBlockInFlight) {
  TScopedEnvironment three("VELMORA_THREADS", "3");
  ASSERT_TRUE(run.AllocateBlockBuffer(65536, BlockRestore));
  const uint8_t stored[] = {3, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c'};
  int submitted = 0;
  for (TBlockSlot* slot; submitted < 4 && (slot = run.BlockPipeline.FreeSlot(sizeof stored)) != nullptr; ++submitted) {
    std::copy(stored, stored + sizeof stored, slot->input);
    slot->checked = false;
    run.BlockPipeline.Submit(slot, BlockRestore, sizeof stored, submitted % 2 == 0);
  }
  run.BlockPipeline.Flush();
  ASSERT_GT(submitted, 1);
  run.BlockPipeline.Discard();
  EXPECT_EQ(nullptr, run.BlockPipeline.Oldest());
}

TEST(PipelinePlan, OneWorkerPerProcessorUnlessToldOtherwise) {
#if defined(_WIN32)
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const uint32_t processors = system.dwNumberOfProcessors;
#else
  cpu_set_t set;
  ASSERT_EQ(0, sched_getaffinity(0, sizeof set, &set));
  const uint32_t processors = uint32_t(CPU_COUNT(&set));
#endif
  {
    TScopedEnvironment unset("VELMORA_THREADS", nullptr);
    EXPECT_EQ(processors, RunWorkerCount(1 << 20));
    EXPECT_EQ(1u, RunWorkerCount(4095)) << "blocks this small are not handed over";
  }
  TScopedEnvironment seven("VELMORA_THREADS", "7");
  EXPECT_EQ(7u, RunWorkerCount(1 << 20));
}

TEST(PipelinePlan, WorkersAndSlotsStayWithinTheBudgetAndNeverBelowOne) {
  struct TCase {
    uint32_t wanted;
    uint64_t slot, work, budget;
    uint32_t workers, slots;
  } const cases[] = {
      {2, 10, 100, 10000, 2, 9},       // room for all: four slots a worker and one
      {16, 10, 100, 1000, 9, 10},      // nine workers and their ten slots take all of it
      {16, 100, 0, 1000, 9, 10},       // restoring: slots alone decide
      {4, 100, 1000, 500, 1, 1},       // not even one worker fits: one all the same
      {1, 10, 100, 10000, 1, 1},       // one worker: one slot, no thread
      {0, 10, 100, 10000, 1, 1},
  };
  for (const TCase& c : cases) {
    const TPipelinePlan plan = PlanPipeline(c.wanted, c.slot, c.work, c.budget);
    EXPECT_EQ(c.workers, plan.workers) << c.wanted << " " << c.budget;
    EXPECT_EQ(c.slots, plan.slots) << c.wanted << " " << c.budget;
    if (plan.workers > 1) {
      EXPECT_LE(plan.workers * c.work + plan.slots * c.slot, c.budget);
    }
  }
}

// Every character typed matches itself, letters by the one upper-casing of the program; only a
// typed '*' or '?' is a wildcard.
TEST(Selection, WordsSelectNamesFoldersAndPatternsWithoutRegardToCase) {
  const struct {
    const char* word;  // UTF-8, as typed
    TWideText name;
    bool selects;
  } cases[] = {
      {"docs\\a.txt", WIDE_TEXT("docs\\a.txt"), true}, {"docs/a.txt", WIDE_TEXT("docs\\a.txt"), true}, {"DOCS\\A.TXT", WIDE_TEXT("docs/a.txt"), true},
      {"docs", WIDE_TEXT("docs\\a.txt"), true},         {"docs\\", WIDE_TEXT("docs\\sub\\b"), true}, {"doc", WIDE_TEXT("docs\\a.txt"), false},
      {"docs\\a", WIDE_TEXT("docs\\a.txt"), false},    {"*.txt", WIDE_TEXT("x\\y.TXT"), true},       {"*.txt", WIDE_TEXT("a.txt.gz"), false},
      {"d?cs\\*", WIDE_TEXT("docs\\a"), true},         {"*", WIDE_TEXT("anything"), true},             {"", WIDE_TEXT("a"), false},
      {"za", WIDE_TEXT("ZA"), true},                    {"ая", WIDE_TEXT("\u0410\u042F"), true},  // the ends of the Cyrillic block
      {"ё", WIDE_TEXT("\u0401"), true},                 {"caf*", WIDE_TEXT("CAF\u00C9"), true},
      // Letters code page 1251 lacks are themselves, never a wildcard.
      {"src/日本.txt", WIDE_TEXT("SRC\\日本.TXT"), true}, {"src/日本.txt", WIDE_TEXT("src\\ab.txt"), false},
      {"src/日本.txt", WIDE_TEXT("src\\кот.txt"), false}, {"ß*", WIDE_TEXT("ßx"), true}, {"ß*", WIDE_TEXT("ssx"), false},
      {"ß*", WIDE_TEXT("bx"), false},
      // One upper-casing for every script: Greek with its final sigma, Ukrainian, Latin-1's ÿ.
      {"ґ", WIDE_TEXT("\u0490"), true}, {"ÿ", WIDE_TEXT("\u0178"), true}, {"ας", WIDE_TEXT("\u0391\u03A3"), true},
      {"ӂ", WIDE_TEXT("\u04C1"), true}, {"ǆ", WIDE_TEXT("\u01C4"), true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.selects, WordSelects(Wide(c.word), c.name.c_str(), uint32_t(c.name.size()))) << c.word;
}

TEST(RunSummary, SizesAndCountsAsPeopleReadThem) {
  const struct {
    uint64_t bytes;
    const char* size;
    const char* grouped;
  } cases[] = {{0, "0 bytes", "0"}, {1, "1 byte", "1"}, {999, "999 bytes", "999"}, {1000, "1.0 kB", "1,000"},
               {999949, "999.9 kB", "999,949"}, {999950, "1.0 MB", "999,950"}, {168700000, "168.7 MB", "168,700,000"},
               {2100000000000ull, "2.1 TB", "2,100,000,000,000"},
               {UINT64_MAX, "18446.7 PB", "18,446,744,073,709,551,615"}};  // the largest unit, no wrap
  for (const auto& c : cases) {
    char size[32], grouped[32];
    HumanSize(c.bytes, size, sizeof size);
    GroupedNumber(c.bytes, grouped, sizeof grouped);
    EXPECT_STREQ(c.size, size);
    EXPECT_STREQ(c.grouped, grouped);
  }
  char line[160];
  SummaryText({5881, 168700000, 60200000}, true, 3.1, line, sizeof line);
  EXPECT_STREQ("5,881 files, 168.7 MB -> 60.2 MB (2.80:1) in 3.1 s, 54.4 MB/s", line);
  SummaryText({5881, 168700000, 60200000}, false, 3.1, line, sizeof line);  // restored
  EXPECT_STREQ("5,881 files, 60.2 MB -> 168.7 MB (2.80:1) in 3.1 s, 54.4 MB/s", line);
  SummaryText({1, 6, 55}, true, 0.5, line, sizeof line);  // an archive larger than its file
  EXPECT_STREQ("1 file, 6 bytes -> 55 bytes (0.11:1) in 0.5 s, 12 bytes/s", line);
}

struct TNameCase {
  TWideText name;
  bool restorable;
};

TEST(RestorableNames, OnlyRelativeNamesThatStayInsideTheFolderAndThatEverySystemHolds) {
  const TNameCase cases[] = {
      {WIDE_TEXT("a.txt"), true}, {WIDE_TEXT("photos\\trip\\b.jpg"), true}, {WIDE_TEXT("a..b"), true}, {WIDE_TEXT("..hidden"), true},
      {WIDE_TEXT("\u041F\u0430\u043F\u043A\u0430\\\u0444.txt"), true}, {WIDE_TEXT("\u4E2D.txt"), true}, {WIDE_TEXT("caf\u00E9"), true},
      {WIDE_TEXT("\U0001F600.txt"), true},                              // a surrogate pair
      {WIDE_TEXT("\xD83D.txt"), false}, {WIDE_TEXT("a\xDC80"), false},            // unpaired surrogates
      {WIDE_TEXT(""), false}, {WIDE_TEXT("\\abs.txt"), false}, {WIDE_TEXT("\\\\server\\share\\x"), false}, {WIDE_TEXT("/abs.txt"), false},
      {WIDE_TEXT("C:\\x.txt"), false}, {WIDE_TEXT("C:x.txt"), false}, {WIDE_TEXT("a\\b:stream"), false}, {WIDE_TEXT(".."), false}, {WIDE_TEXT("..\\x"), false},
      {WIDE_TEXT("a\\..\\..\\x"), false}, {WIDE_TEXT("a\\.."), false}, {WIDE_TEXT(".\\x"), false}, {WIDE_TEXT("a\\.\\x"), false},
      {WIDE_TEXT("a\\\\x"), false}, {WIDE_TEXT("a\\"), false}, {WIDE_TEXT("a/../x"), false},
      // Names Windows takes for a device or trims, in any component.
      {WIDE_TEXT("CON"), false}, {WIDE_TEXT("aux.txt"), false}, {WIDE_TEXT("d\\com1.log"), false}, {WIDE_TEXT("Lpt9.x.y"), false}, {WIDE_TEXT("nul .txt"), false},
      {WIDE_TEXT("prn\\x"), false}, {WIDE_TEXT("name."), false}, {WIDE_TEXT("name "), false}, {WIDE_TEXT("console.txt"), true}, {WIDE_TEXT("com0.txt"), true},
      {WIDE_TEXT("lpt"), true}, {WIDE_TEXT("auxiliary"), true}, {WIDE_TEXT(".aux"), true},
      // The superscript ports and the console's own names are devices too.
      {WIDE_TEXT("COM\u00B9.txt"), false}, {WIDE_TEXT("lpt\u00B3.log"), false}, {WIDE_TEXT("d\\com\u00B2"), false},
      {WIDE_TEXT("CONIN$"), false}, {WIDE_TEXT("conout$.txt"), false}, {WIDE_TEXT("com\u2074.txt"), true},
      {WIDE_TEXT("conin.txt"), true}, {WIDE_TEXT("CONOUT"), true},
  };
  for (const TNameCase& c : cases)
    EXPECT_EQ(c.restorable, IsRestorableName(c.name.c_str(), uint32_t(c.name.size())))
        << "name of " << c.name.size() << " units, first unit " << (c.name.empty() ? 0 : int(c.name[0]));
  // What a walk stores of a listed name: what every system holds, a name that was not UTF-8 not.
  for (const TWideText& name : {TWideText(WIDE_TEXT("\u00E9t\u00E9 \u65E5.txt")), TWideText(WIDE_TEXT(".hidden"))})
    EXPECT_EQ(nullptr, UnstorableReason(name.c_str()));
  for (const TWideText& name : {TWideText(WIDE_TEXT("a:b")), TWideText(WIDE_TEXT("a\x01")), TWideText(WIDE_TEXT("bad\xDCFF")),
                                     TWideText(WIDE_TEXT("aux.txt")), TWideText(WIDE_TEXT("end."))})
    EXPECT_NE(nullptr, UnstorableReason(name.c_str()));
}

}  // namespace

namespace {

// A reader written from the container's and the jobs' description alone, as another program
// would read: the reserved byte is read and ignored, a block is one length and that many payload
// bytes read into the input area, which the output area directly follows, and the engine's
// decoder restores it there, ignoring whatever follows the block's last section.
bool ReadAsTheFormatAlone(const TBytes& archive, uint32_t blockSize, TBytes& restored) {
  const uint32_t bound = uint32_t(CompressBoundFor(blockSize));
  std::vector<uint8_t> buffer(blockSize + (bound > 2 * blockSize ? bound : 2 * blockSize));
  uint8_t* input = buffer.data();
  uint8_t* output = buffer.data() + blockSize;
  uint64_t at = 0;
  while (at + 8 <= archive.size()) {
    const uint64_t next = Load64(archive.data() + at);
    if (next <= at || next > archive.size()) return false;
    uint64_t p = at + 8;
    while (p + 1 < archive.size() && (archive[p] | archive[p + 1]) != 0) p += 2;
    p += 2 + 1 + 8;  // terminator, reserved byte (ignored), time
    while (p < next) {
      const uint32_t length = Load32(archive.data() + p);
      if (length > 2 * blockSize || p + 4 + length > next) return false;
      std::copy(archive.begin() + long(p + 4), archive.begin() + long(p + 4 + length), input);
      uint32_t n = 2 * blockSize;
      if (!DecompressBlock(output, n, input, length)) return false;
      restored.insert(restored.end(), output, output + n);
      p += 4 + uint64_t(length);
    }
    at = next;
  }
  return at == archive.size();
}

}  // namespace

TEST_F(JobsTest, CheckedArchiveRestoresThroughAReaderOfTheFormatAlone) {
  TBytes data = Prose(3 * 4096 + 100);
  uint64_t state = 88172645463325252ull;
  for (uint32_t i = 0; i < 2 * 4096; ++i) {  // incompressible
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    data.push_back(uint8_t(state));
  }
  WriteAll(Path("s.txt"), data);
  ASSERT_EQ(EntryWritten, Compress("s.txt", 4096));
  const TBytes archive = ReadAll(Path("x.pck"));
  ASSERT_EQ(kCheckedEntry, archive[8 + 2 * 6]);
  const std::vector<uint32_t> lengths = BlockLengths();
  ASSERT_EQ(6u, lengths.size());
  EXPECT_EQ(4096u + 16, lengths[4]) << "a stored block and its trailer";
  TBytes restored;
  EXPECT_TRUE(ReadAsTheFormatAlone(archive, 4096, restored));
  EXPECT_EQ(data, restored);

  // An empty file's one block (the stored form of nothing and its trailer) restores to nothing.
  WriteAll(Path("e.txt"), {});
  ASSERT_EQ(EntryWritten, Compress("e.txt", 4096));
  ASSERT_EQ(std::vector<uint32_t>{16u}, BlockLengths());
  restored.clear();
  EXPECT_TRUE(ReadAsTheFormatAlone(ReadAll(Path("x.pck")), 4096, restored));
  EXPECT_TRUE(restored.empty());
}
