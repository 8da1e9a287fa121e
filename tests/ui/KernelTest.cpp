// Code-page table file, converters, splitters, pause and file test.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "UiTestSupport.h"
#include "foundation/Tstring.h"
#include "platform/win32.h"
#include "ui/Kernel.h"

namespace fs = std::filesystem;

namespace {

#if !defined(_WIN32)
uint16_t UnitAt(const std::vector<uint8_t>& file, int b) {
  return static_cast<uint16_t>(file[2 * b] | (file[2 * b + 1] << 8));
}

WCHAR Widen(uint8_t b) {
  const char c = static_cast<char>(b);
  WCHAR w = 0xFFFF;
  EXPECT_EQ(Ansi1251ToWide(1251, 0, &c, 1, &w, 1), 1);
  return w;
}
#endif

int Narrow(WCHAR w) {
  char c = 'X';
  EXPECT_EQ(WideToAnsi1251(1251, 0, &w, 1, &c, 1, nullptr, nullptr), 1);
  return static_cast<uint8_t>(c);
}


#if !defined(_WIN32)  // the program file is moved about, which only the POSIX layer allows

// Each test gets its own program folder; the scratch folder's kernel comes back afterwards.
class KernelTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::path(TestScratchFolder()) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(folder);
    fs::create_directories(folder);
    table = folder / "Ansi1251.wcs";
  }
  void TearDown() override { RestartKernelInTestFolder(); }
  void StartHere() { RestartKernelAs((folder / "velmora").string(), "photos"); }

  fs::path folder;
  fs::path table;
};

TEST_F(KernelTableTest, FirstRunWritesTheStandardTable) {
  ASSERT_FALSE(fs::exists(table));
  StartHere();
  ASSERT_TRUE(CodePageTables().ready);
  const std::vector<uint8_t> file = ReadAll(table);
  ASSERT_EQ(file.size(), 512u);
  EXPECT_EQ(UnitAt(file, 0), 0);
  EXPECT_EQ(UnitAt(file, 'A'), WIDE_TEXT('A'));
  EXPECT_EQ(UnitAt(file, 0xA8), 0x0401);  // Ё
  EXPECT_EQ(UnitAt(file, 0xB9), 0x2116);  // №
  for (int b = 0xC0; b <= 0xFF; ++b) {
    EXPECT_EQ(UnitAt(file, b), 0x0410 + (b - 0xC0)) << b;
    EXPECT_EQ(Widen(static_cast<uint8_t>(b)), 0x0410 + (b - 0xC0)) << b;
    EXPECT_EQ(Narrow(static_cast<WCHAR>(0x0410 + (b - 0xC0))), b) << b;
  }

  EXPECT_EQ(Text(ProgramFolder()), NarrowFolder(folder.string()));
  EXPECT_EQ(Text(ProgramPath()), NarrowFolder(folder.string()) + "velmora");
  EXPECT_EQ(Text(CommandTail()), "photos");

  // The narrow and wide strings convert through the tables.
  const char cyrillic[] = "\xCF\xF0\xE8\xE2\xE5\xF2 \xB9 1";  // Привет № 1
  const TWideString wide = FromNarrow(TAnsiString(cyrillic));
  const TWideText expected = WIDE_TEXT("\u041F\u0440\u0438\u0432\u0435\u0442 \u2116 1");
  ASSERT_EQ(TWideText(wide.Data(), wide.Length()), expected);
  EXPECT_EQ(Text(FromWide(wide)), cyrillic);
}

TEST_F(KernelTableTest, TableFileIsReadNotRecomputed) {
  StartHere();
  std::vector<uint8_t> file = ReadAll(table);
  ASSERT_EQ(file.size(), 512u);
  file[2 * 0xE0] = 0x3A;  // U+263A in place of U+0430
  file[2 * 0xE0 + 1] = 0x26;
  WriteAll(table, file);

  StartHere();
  EXPECT_EQ(ReadAll(table), file);  // a good file is left as it is
  EXPECT_EQ(Widen(0xE0), 0x263A);
  EXPECT_EQ(Narrow(0x263A), 0xE0);
  EXPECT_EQ(Narrow(0x0430), '?');  // no byte gives the old code unit any more
  EXPECT_EQ(Widen(0xE1), 0x0431);
}

TEST_F(KernelTableTest, ProgramPathIsTheModuleNotTheFirstWord) {
  // Started through the search path from another folder: the first word holds no folder, yet the
  // program's folder, and the table file, are where the program file is.
  const fs::path elsewhere = folder / "elsewhere";
  fs::create_directories(elsewhere);
  const fs::path before = fs::current_path();
  fs::current_path(elsewhere);
  RestartKernelAs((folder / "velmora").string(), "-c photos", "velmora");
  fs::current_path(before);
  EXPECT_EQ(Text(ProgramPath()), NarrowFolder(folder.string()) + "velmora");
  EXPECT_EQ(Text(ProgramFolder()), NarrowFolder(folder.string()));
  EXPECT_EQ(Text(CommandTail()), "\"-c photos\"");
  EXPECT_TRUE(fs::exists(table));
  EXPECT_FALSE(fs::exists(elsewhere / "Ansi1251.wcs"));
}

// A table file of the wrong size is replaced; a folder where none can be saved still converts.
TEST_F(KernelTableTest, WrongSizedTableFilesAreReplacedAndAnUnwritableFolderStillConverts) {
  for (size_t size : {511u, 513u, 0u}) {
    WriteAll(table, std::vector<uint8_t>(size, 0x41));
    StartHere();
    const std::vector<uint8_t> file = ReadAll(table);
    ASSERT_EQ(file.size(), 512u) << size;
    EXPECT_EQ(UnitAt(file, 0xE0), 0x0430) << size;
    EXPECT_EQ(Widen(0x41), WIDE_TEXT('A')) << size;
  }
  const fs::path missing = folder / "gone";
  RestartKernelAs((missing / "velmora").string(), "x");
  EXPECT_FALSE(fs::exists(missing));
  ASSERT_TRUE(CodePageTables().ready);
  EXPECT_EQ(Widen(0xC0), 0x0410);
  EXPECT_EQ(Narrow(0x044F), 0xFF);
}

#endif

TEST(KernelConversion, RefusalsWriteNothing) {
  RestartKernelInTestFolder();
  const WCHAR han = 0x4E00;
  EXPECT_EQ(Narrow(han), '?');  // no cp1251 byte for it: '?', as Win32 gives, never 0

  const char narrow[4] = {'a', '\xC0', 'b', '\xFF'};
  WCHAR wide[4] = {1, 2, 3, 4};
  EXPECT_EQ(Ansi1251ToWide(1251, 0, narrow, 4, wide, 3), 0);
  EXPECT_EQ(wide[0], 1);
  EXPECT_EQ(wide[2], 3);
  EXPECT_EQ(Ansi1251ToWide(1251, 0, narrow, 4, wide, 4), 4);
  EXPECT_EQ(wide[1], 0x0410);
  EXPECT_EQ(wide[3], 0x044F);

  char back[4] = {'w', 'x', 'y', 'z'};
  EXPECT_EQ(WideToAnsi1251(1251, 0, wide, 4, back, 3, nullptr, nullptr), 0);
  EXPECT_EQ(std::string(back, 4), "wxyz");
  EXPECT_EQ(WideToAnsi1251(1251, 0, wide, 4, back, 5, nullptr, nullptr), 4);  // no terminator
  EXPECT_EQ(std::memcmp(back, narrow, 4), 0);

  EXPECT_EQ(Ansi1251ToWide(1251, 0, narrow, -1, wide, 4), 0);
  EXPECT_EQ(Ansi1251ToWide(1251, 0, narrow, 0, wide, 0), 0);
}

TEST(KernelSplit, FirstAndLastSeparatorOutsideQuotes) {
  const struct {
    bool atLast;
    const char* text;
    char separator;
    const char* oldFirst;
    const char* oldRest;
    bool found;
    const char* first;
    const char* rest;
  } cases[] = {
      {false, "\"C:\\Program Files\\Velmora\\velmora.exe\"  -c \"D:\\my data\"", ' ', "old1", "old2", true,
       "C:\\Program Files\\Velmora\\velmora.exe", "-c \"D:\\my data\""},  // a run of separators
      {false, "x==5", '=', "old1", "old2", true, "x=", "5"},
      {false, "=x", '=', "old1", "old2", true, "", "x"},
      {false, "name=", '=', "old1", "old2", true, "name", ""},
      // Without a separator the outputs stay, except that the first is unquoted.
      {false, "\"a b\"", ' ', "\"quoted old\"", "\"rest\"", false, "quoted old", "\"rest\""},
      {true, "photos.backup.pck", '.', "old1", "old2", true, "photos.backup", "pck"},
      {true, "README", '.', "\"keep\"", "\"old second\"", false, "\"keep\"", "old second"},
      {true, "D:\\data\\\"my.photos\"", '.', "old1", "old2", false, "old1", "old2"},  // the only dot is quoted
      {true, "D:\\data\\\"my photos\"", '\\', "old1", "old2", true, "D:\\data", "my photos"},
      {true, "a..b", '.', "old1", "old2", true, "a.", "b"},  // no special treatment of runs
  };
  for (const auto& c : cases) {
    TAnsiString first(c.oldFirst), rest(c.oldRest);
    const bool found = c.atLast ? SplitAtLast(first, rest, TAnsiString(c.text), c.separator)
                                : SplitAtFirst(first, rest, TAnsiString(c.text), c.separator);
    EXPECT_EQ(found, c.found) << c.text;
    EXPECT_EQ(Text(first), c.first) << c.text;
    EXPECT_EQ(Text(rest), c.rest) << c.text;
  }
  TAnsiString first("\"q\""), rest("r");
  EXPECT_FALSE(SplitAtFirst(first, rest, TAnsiString(), ' '));  // no buffer at all: untouched
  EXPECT_EQ(Text(first), "\"q\"");
  for (const auto& c : {std::pair<const char*, const char*>{"\"\"", ""}, {"\"", "\""}, {"\"a", "\"a"}, {"\"\"x\"\"", "\"x\""}}) {
    TAnsiString quoted(c.first);
    Unquote(quoted);
    EXPECT_EQ(Text(quoted), c.second) << c.first;
  }
}

// A file exists for the program when it can be opened without sharing: not a folder, not a file
// another handle holds.
TEST(KernelFiles, FileExistsOpensWithoutSharing) {
  const std::string folder = TestScratchFolder() + "/exists";
  fs::create_directories(folder);
  WriteAll(folder + "/f.txt", {1, 2, 3});
  const std::string file = NarrowFolder(folder) + "f.txt";
  EXPECT_TRUE(FileExists(file.c_str()));
  EXPECT_FALSE(FileExists((NarrowFolder(folder) + "missing.txt").c_str()));
  EXPECT_FALSE(FileExists(NarrowFolder(folder).c_str()));
  HANDLE held = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(FileExists(file.c_str()));
  CloseHandle(held);
}

// A text's width is the sum of its characters' widths, its height the tallest of them.
TEST(KernelText, MeasureIsTheSumOfCharacters) {
  HDC dc = CreateCompatibleDC(nullptr);
  HFONT font = CreateWindowFont();
  HGDIOBJ old = SelectObject(dc, font);
  const char text[] = "Overwrite \xC2\xF1\xE5?";
  SIZE size = {-1, -1}, one;
  long sum = 0, tallest = 0;
  for (size_t i = 0; i < std::strlen(text); ++i, sum += one.cx, tallest = std::max<long>(tallest, one.cy))
    ASSERT_TRUE(GetTextExtentPoint32A(dc, text + i, 1, &one));
  ASSERT_TRUE(MeasureText(dc, text, static_cast<int>(std::strlen(text)), &size));
  EXPECT_EQ(size.cx, sum);
  EXPECT_EQ(size.cy, tallest);
  EXPECT_TRUE(MeasureText(dc, "", 0, &size) && size.cx == 0 && size.cy == 0);
  SelectObject(dc, old);
  DeleteObject(font);
  DeleteDC(dc);
}

}  // namespace
