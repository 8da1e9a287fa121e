// The compressed file's container: entries written byte for byte with their back-patched
// nextEntryOffset, headers read back with the 999-unit name limit, and the chain walk, which must
// stop at the first entry it cannot trust (cut, zero, beyond the end, not moving forward).
#include "AppTestSupport.h"
#include "app/ArchiveFormat.h"

namespace {

const uint64_t kTime = 0x01D9A1B2C3D4E5F6ull;

TWideText Units(const char* ascii) {
  TWideText units;
  for (; *ascii; ++ascii) units.push_back(WCHAR(*ascii));
  return units;
}

// An entry assembled by hand, so the reader is checked against bytes the writer did not make.
TBytes CraftedEntry(uint64_t next, const TWideText& name, uint64_t time, const TBytes& blocks,
                    uint8_t reserved = 0) {
  TBytes e(8);
  Store64(e.data(), next);
  for (WCHAR u : name) {
    e.push_back(uint8_t(u));
    e.push_back(uint8_t(u >> 8));
  }
  e.push_back(0);
  e.push_back(0);
  e.push_back(reserved);
  for (int i = 0; i < 8; ++i) e.push_back(uint8_t(time >> (8 * i)));
  e.insert(e.end(), blocks.begin(), blocks.end());
  return e;
}

// An entry laid out correctly at offset `at`: its nextEntryOffset is its own end.
TBytes ValidEntry(uint64_t at, const char* name, const TBytes& blocks = {}) {
  const TWideText units = Units(name);
  return CraftedEntry(at + EntryHeaderSize(uint32_t(units.size())) + blocks.size(), units, kTime, blocks);
}

TBytes Joined(std::initializer_list<TBytes> parts) {
  TBytes all;
  for (const TBytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

class ArchiveFormatTest : public ::testing::Test {
 protected:
  std::string SystemPath() const { return scratch.system + "/a.pck"; }
  std::string NarrowPath() const { return scratch.narrow + "a.pck"; }

  HANDLE OpenForWriting() {
    HANDLE file = CreateFileA(NarrowPath().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    return file;
  }
  HANDLE OpenForReading() {
    HANDLE file = CreateFileA(NarrowPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    return file;
  }
  uint32_t CountOf(const TBytes& archive) {
    WriteAll(SystemPath(), archive);
    HANDLE file = OpenForReading();
    uint32_t count = 0;
    {
      TArchiveReader reader(file);
      count = CountEntries(reader);
      EXPECT_EQ(0u, reader.Position()) << "counting leaves the position at 0";
    }
    CloseHandle(file);
    return count;
  }
  bool HeaderAt(const TBytes& archive, uint64_t start, TEntryHeader& header) {
    WriteAll(SystemPath(), archive);
    HANDLE file = OpenForReading();
    bool ok = false;
    {
      TArchiveReader reader(file);
      ok = ReadEntryHeader(reader, start, header);
    }
    CloseHandle(file);
    return ok;
  }

  TScratchFolder scratch;
};

TEST_F(ArchiveFormatTest, EmptyFileGivesTwentyNineByteEntryAndAppendedEntriesChain) {
  HANDLE file = OpenForWriting();
  const TWideText e = Units("e.txt");
  uint64_t start = 99;
  ASSERT_TRUE(WriteEntryHeader(file, e.c_str(), uint32_t(e.size()), 0, start));
  ASSERT_TRUE(FinishEntry(file, start));
  // A second entry appended after the first: its offset is absolute, not relative.
  const TWideText b = Units("dir\\b");
  ASSERT_TRUE(WriteEntryHeader(file, b.c_str(), uint32_t(b.size()), kTime, start));
  EXPECT_EQ(29u, start);
  const uint8_t payload[] = {1, 2, 3, 4, 5};
  ASSERT_TRUE(WriteEntryBlock(file, payload, 5));
  ASSERT_TRUE(WriteEntryBlock(file, payload, 2));
  ASSERT_TRUE(FinishEntry(file, start));
  CloseHandle(file);

  const TBytes bytes = ReadAll(SystemPath());
  const uint64_t secondEnd = 29 + EntryHeaderSize(5) + 4 + 5 + 4 + 2;
  ASSERT_EQ(secondEnd, bytes.size());
  EXPECT_EQ(29u, Load64(bytes.data()));
  EXPECT_EQ(TBytes({'e', 0, '.', 0, 't', 0, 'x', 0, 't', 0, 0, 0, kCheckedEntry}),
            TBytes(bytes.begin() + 8, bytes.begin() + 21));
  EXPECT_EQ(0u, Load64(bytes.data() + 21)) << "an unreadable time is stored as 0";
  EXPECT_EQ(secondEnd, Load64(bytes.data() + 29));
  EXPECT_EQ(5u, Load32(bytes.data() + 29 + EntryHeaderSize(5)));
  EXPECT_EQ(2u, CountOf(bytes));
}

TEST_F(ArchiveFormatTest, InterruptedEntryKeepsZeroOffsetAndIsNotCounted) {
  HANDLE file = OpenForWriting();
  const TWideText name = Units("big.bin");
  uint64_t start = 0;
  ASSERT_TRUE(WriteEntryHeader(file, name.c_str(), uint32_t(name.size()), kTime, start));
  const uint8_t payload[] = {9, 9, 9};
  ASSERT_TRUE(WriteEntryBlock(file, payload, 3));
  CloseHandle(file);  // no back-patch
  const TBytes bytes = ReadAll(SystemPath());
  EXPECT_EQ(0u, Load64(bytes.data()));
  EXPECT_EQ(0u, CountOf(bytes));
}

TEST_F(ArchiveFormatTest, HeaderReadsNameTimeAndFirstBlockAndIgnoresReservedByte) {
  const TBytes block = {3, 0, 0, 0, 'x', 'y', 'z'};
  const TWideText name = WIDE_TEXT("\u041F\u0440\\f");  // Cyrillic folder, a file below it
  const TBytes entry = CraftedEntry(EntryHeaderSize(4) + block.size(), name, kTime, block, 0x7F);
  TEntryHeader header;
  ASSERT_TRUE(HeaderAt(entry, 0, header));
  EXPECT_EQ(TWideText(header.name), name);
  EXPECT_EQ(4u, header.nameUnits);
  EXPECT_EQ(kTime, header.lastWriteTime);
  EXPECT_EQ(0x7Fu, header.reserved);
  EXPECT_EQ(EntryHeaderSize(4), header.firstBlock);
  EXPECT_EQ(entry.size(), header.nextEntryOffset);
}

TEST_F(ArchiveFormatTest, NameLimitIsNineHundredNinetyNineUnits) {
  // The writer stores 999 units and refuses a longer name.
  const TWideText longest(999, WIDE_TEXT('n'));
  HANDLE file = OpenForWriting();
  uint64_t start = 0;
  ASSERT_TRUE(WriteEntryHeader(file, longest.c_str(), 999, kTime, start));
  ASSERT_TRUE(FinishEntry(file, start));
  const TWideText tooLong(1000, WIDE_TEXT('n'));
  EXPECT_FALSE(WriteEntryHeader(file, tooLong.c_str(), 1000, kTime, start));
  CloseHandle(file);
  const TBytes written = ReadAll(SystemPath());
  ASSERT_EQ(EntryHeaderSize(999), written.size()) << "the refused header left nothing behind";

  TEntryHeader header;
  ASSERT_TRUE(HeaderAt(written, 0, header));
  EXPECT_EQ(999u, header.nameUnits);
  EXPECT_EQ(longest, TWideText(header.name));
  EXPECT_EQ(kTime, header.lastWriteTime);

  // A foreign entry with a longer name is cut at 999 units, and the fields after the name are then
  // taken from just past unit 999 -- which is why writers never store such a name.
  const TWideText foreign(1010, WIDE_TEXT('q'));
  const TBytes crafted = CraftedEntry(EntryHeaderSize(1010), foreign, kTime, {});
  ASSERT_TRUE(HeaderAt(crafted, 0, header));
  EXPECT_EQ(999u, header.nameUnits);
  EXPECT_EQ(EntryHeaderSize(999), header.firstBlock);
  EXPECT_EQ(0x71u, header.reserved) << "the byte after unit 999 is the low byte of a 'q'";
}

TEST_F(ArchiveFormatTest, ChainStopsAtZeroBeyondEndOrNonAdvancingOffsets) {
  const TBytes first = ValidEntry(0, "one", {2, 0, 0, 0, 7, 7});
  const uint64_t second = first.size();
  const uint32_t header = uint32_t(EntryHeaderSize(3));
  auto withSecondPointingTo = [&](uint64_t next) {
    TBytes tail = CraftedEntry(next, Units("two"), kTime, {0, 0, 0, 0});
    TBytes third = ValidEntry(second + tail.size(), "tri");
    return Joined({first, tail, third});
  };
  // A well-formed three-entry file counts 3.
  {
    TBytes tail = ValidEntry(second, "two", {0, 0, 0, 0});
    EXPECT_EQ(3u, CountOf(Joined({first, tail, ValidEntry(second + tail.size(), "tri")})));
  }
  EXPECT_EQ(1u, CountOf(withSecondPointingTo(0))) << "interrupted entry";
  EXPECT_EQ(1u, CountOf(withSecondPointingTo(1u << 30))) << "beyond the end";
  EXPECT_EQ(1u, CountOf(withSecondPointingTo(0 + 1))) << "backward, into the first entry";
  EXPECT_EQ(1u, CountOf(withSecondPointingTo(second))) << "points at itself";
  EXPECT_EQ(1u, CountOf(withSecondPointingTo(second + 8))) << "inside its own name";
  EXPECT_EQ(1u, CountOf(withSecondPointingTo(second + header - 1))) << "inside its own time field";
  // Pointing exactly at its header's end is an entry without blocks; the next entry must then
  // start there, and the 4 stray bytes are read as a broken third entry.
  EXPECT_EQ(2u, CountOf(withSecondPointingTo(second + header)));

  TEntryHeader read;
  EXPECT_FALSE(HeaderAt(withSecondPointingTo(second), second, read));
  EXPECT_FALSE(HeaderAt(withSecondPointingTo(second + 8), second, read));
  EXPECT_TRUE(HeaderAt(withSecondPointingTo(second + header), second, read));
}

TEST_F(ArchiveFormatTest, CutFilesCountOnlyTheirCompleteEntries) {
  const TBytes a = ValidEntry(0, "a", {3, 0, 0, 0, 1, 2, 3});
  const TBytes b = ValidEntry(a.size(), "bb", {1, 0, 0, 0, 9});
  const TBytes c = ValidEntry(a.size() + b.size(), "c");
  const TBytes all = Joined({a, b, c});
  ASSERT_EQ(3u, CountOf(all));

  EXPECT_EQ(0u, CountOf({})) << "a file of 0 bytes holds no entry";
  for (size_t cut : {size_t(1), size_t(7), size_t(8), a.size() - 1})
    EXPECT_EQ(0u, CountOf(TBytes(all.begin(), all.begin() + cut))) << "cut at " << cut;
  // Cut exactly at an entry boundary: a valid shorter file.
  EXPECT_EQ(1u, CountOf(TBytes(all.begin(), all.begin() + a.size())));
  EXPECT_EQ(2u, CountOf(TBytes(all.begin(), all.begin() + a.size() + b.size())));
  for (size_t cut : {a.size() + 3, a.size() + 8, a.size() + b.size() - 1})
    EXPECT_EQ(1u, CountOf(TBytes(all.begin(), all.begin() + cut))) << "cut at " << cut;
  EXPECT_EQ(2u, CountOf(TBytes(all.begin(), all.end() - 1)));

  // A header that does not fit in the file: its name runs to the end without a terminator.
  TEntryHeader header;
  TBytes shortHeader = CraftedEntry(14, WIDE_TEXT("abc"), 0, {});
  shortHeader.resize(14);
  EXPECT_FALSE(HeaderAt(shortHeader, 0, header));
  EXPECT_FALSE(HeaderAt(all, all.size(), header)) << "no entry starts at the end of the file";

  // A read the file cannot give fails: past the end, or (a large block's payload, read straight
  // from the file) after the file was cut while it was being read.
  TBytes bytes(600000, 7);
  WriteAll(SystemPath(), bytes);
  HANDLE file = OpenForReading();
  {
    TArchiveReader reader(file);
    reader.Seek(100);
    EXPECT_FALSE(reader.Read(bytes.data(), 599901)) << "one byte past the end";
#if !defined(_WIN32)  // Windows does not cut a file that a reader holds without sharing writes
    std::filesystem::resize_file(SystemPath(), 1000);
    reader.Seek(0);
    EXPECT_FALSE(reader.Read(bytes.data(), 599000)) << "cut while being read";
    reader.Seek(500000);
    EXPECT_FALSE(reader.Read(bytes.data(), 100)) << "cut while being read, through the buffer";
#endif
  }
  CloseHandle(file);
}

TEST_F(ArchiveFormatTest, AcceptedBlockLengthCoversStoredFullBlocksOfTinyWindows) {
  EXPECT_EQ(4194304u, AcceptedBlockLength(2097152));
  EXPECT_EQ(2000u, AcceptedBlockLength(1000));
  EXPECT_EQ(16u, AcceptedBlockLength(8));
  EXPECT_EQ(9u, AcceptedBlockLength(1)) << "a stored 1-byte block is 9 bytes long";
  EXPECT_EQ(13u, AcceptedBlockLength(5));
  EXPECT_EQ(0u, AcceptedBlockLength(0));
  EXPECT_EQ(0u, AcceptedBlockLength(-5));
  EXPECT_EQ(0xFFFFFFFEu, AcceptedBlockLength(0x7FFFFFFF));
}

}  // namespace
