#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include "PlatformTestSupport.h"
#include "platform/Beneath.h"
#include "platform/win32.h"
#include "tests/TestMain.h"

namespace {

// "Привет" in cp1251.
const char privetCp1251[] = "\xCF\xF0\xE8\xE2\xE5\xF2";

const TListedItem* Find(const std::vector<TListedItem>& items, const std::string& name) {
  for (const TListedItem& item : items)
    if (item.name == name) return &item;
  return nullptr;
}

void WriteSystemFile(const std::string& path, const std::string& content) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(static_cast<ssize_t>(content.size()), write(fd, content.data(), content.size()));
  close(fd);
}

}  // namespace

TEST(Files, NameOutsideCp1251IsListedWithQuestionMarksAndNeverOpensAnotherFile) {
  TScratchFolder folder;
  WriteSystemFile(folder.system + "/a\xE4\xB8\x80" "b.txt", "cjk");  // a U+4E00 b.txt
  WriteSystemFile(folder.system + "/a?b.txt", "decoy");               // what the listed name spells
  WriteSystemFile(folder.system + "/back\\slash", "backslash");       // a literal backslash
  WriteSystemFile(folder.system + "/bad\xFF.txt", "ill-formed");      // not UTF-8 at all
  WriteSystemFile(folder.system + "/zz.txt", "last");
  std::vector<TListedItem> items = List(folder.narrow);
  ASSERT_EQ(7u, items.size()) << "the listing goes on past every unrepresentable name";
  EXPECT_EQ(2, std::count_if(items.begin(), items.end(), [](const TListedItem& i) { return i.name == "a?b.txt"; }));
  EXPECT_NE(nullptr, Find(items, "back?slash"));
  EXPECT_NE(nullptr, Find(items, "bad?.txt"));
  EXPECT_NE(nullptr, Find(items, "zz.txt"));
  for (const char* listed : {"a?b.txt", "back?slash", "bad?.txt"}) {
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenForReading(folder.narrow + listed)) << listed;
    EXPECT_EQ(ERROR_INVALID_NAME, GetLastError());
  }
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateForWriting(folder.narrow + "new?.txt"));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((folder.narrow + "a?b.txt").c_str()));
}

TEST(Files, OpenModesAndTheirFailures) {
  TScratchFolder folder;
  std::string name = folder.narrow + "f.bin";
  HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  EXPECT_NE(nullptr, file);
  DWORD written;
  ASSERT_TRUE(WriteFile(file, "12345", 5, &written, nullptr));
  DWORD got;
  char byte;
  EXPECT_FALSE(ReadFile(file, &byte, 1, &got, nullptr)) << "opened for writing only";
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  CloseHandle(file);
  EXPECT_EQ(ERROR_FILE_EXISTS, ErrorOf(CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)));

  file = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
  EXPECT_EQ(5u, GetFileSize(file, nullptr));
  CloseHandle(file);
  file = CreateForWriting(name);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  EXPECT_EQ(0u, GetFileSize(file, nullptr)) << "CREATE_ALWAYS truncates";
  CloseHandle(file);

  EXPECT_EQ(ERROR_FILE_NOT_FOUND, ErrorOf(OpenForReading(folder.narrow + "nothing.bin")));
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, ErrorOf(OpenForReading(folder.narrow + "no\\nothing.bin")));
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, ErrorOf(CreateForWriting(folder.narrow + "no\\nothing.bin")));

  ASSERT_TRUE(CreateDirectoryA((folder.narrow + "dir").c_str(), nullptr));
  EXPECT_EQ(ERROR_ACCESS_DENIED, ErrorOf(OpenForReading(folder.narrow + "dir")));
  EXPECT_EQ(ERROR_ACCESS_DENIED, ErrorOf(CreateForWriting(folder.narrow + "dir")));
  EXPECT_FALSE(DeleteFileA((folder.narrow + "dir").c_str()));

  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
  EXPECT_FALSE(CloseHandle(nullptr));
}

TEST(Files, AnotherProcessWritingWithoutDeleteSharingHoldsTheFile) {
  TScratchFolder folder;
  const std::string name = folder.narrow + "held.part";
  int ready[2], release[2];
  ASSERT_EQ(0, pipe(ready));
  ASSERT_EQ(0, pipe(release));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HANDLE writer = CreateForWriting(name);
    char byte = writer != INVALID_HANDLE_VALUE ? 'y' : 'n';
    (void)!write(ready[1], &byte, 1);
    (void)!read(release[0], &byte, 1);
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(1, read(ready[0], &byte, 1));
  ASSERT_EQ('y', byte);
  EXPECT_FALSE(DeleteFileA(name.c_str()));
  EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
  ASSERT_EQ(1, write(release[1], &byte, 1));
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(DeleteFileA(name.c_str())) << "the writer is gone";
  for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
}

// A time keeps its 100 ns unit through the system (where the file system keeps nanoseconds); a
// zero time changes nothing.
TEST(Files, TimesKeepTheHundredNanosecondUnit) {
  TScratchFolder folder;
  const std::string name = folder.narrow + "t.bin";
  HANDLE file = CreateForWriting(name);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  const uint64_t stamp = 132568992001234567ull;  // 2021-02-04 08:00:00.1234567 UTC
  const FILETIME written = {static_cast<DWORD>(stamp), static_cast<DWORD>(stamp >> 32)}, zero = {0, 0};
  ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &written));
  ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &zero));
  FILETIME read = {0, 0};
  ASSERT_TRUE(GetFileTime(file, nullptr, nullptr, &read));
  CloseHandle(file);
  struct stat st;
  ASSERT_EQ(0, stat((folder.system + "/t.bin").c_str(), &st));
  EXPECT_EQ(1612425600, st.st_mtim.tv_sec);
  if (st.st_mtim.tv_nsec % 100 == 0 && st.st_mtim.tv_nsec != 0) {  // a file system that keeps them
    EXPECT_EQ(stamp, (static_cast<uint64_t>(read.dwHighDateTime) << 32) | read.dwLowDateTime);
    EXPECT_EQ(123456700, st.st_mtim.tv_nsec);
  }
}

TEST(Files, CurrentDirectoryRenameAndIdentity) {
  TScratchFolder folder;
  char saved[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, saved), 0u);
  std::string cyrillic = folder.narrow + privetCp1251;
  ASSERT_TRUE(CreateDirectoryA(cyrillic.c_str(), nullptr));
  ASSERT_TRUE(SetCurrentDirectoryA((cyrillic + "\\").c_str()));
  char now[MAX_PATH];
  DWORD length = GetCurrentDirectoryA(MAX_PATH, now);
  EXPECT_EQ(cyrillic, std::string(now));
  EXPECT_EQ(cyrillic.size(), length);
  EXPECT_EQ(cyrillic.size() + 1, GetCurrentDirectoryA(3, now)) << "too small a buffer gives the size it needs";

  HANDLE file = CreateForWriting("temporary.pck");  // relative to the new current directory
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  ASSERT_TRUE(WriteFile(file, "new", 3, nullptr, nullptr));
  CloseHandle(file);
  file = CreateForWriting("final.pck");
  ASSERT_TRUE(WriteFile(file, "old!", 4, nullptr, nullptr));
  CloseHandle(file);
  EXPECT_FALSE(MoveFileExA("temporary.pck", "final.pck", 0));
  EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
  ASSERT_TRUE(MoveFileExA("temporary.pck", "final.pck", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("temporary.pck"));

  HANDLE one = OpenForReading("final.pck");
  HANDLE same = OpenForReading(cyrillic + "\\..\\" + privetCp1251 + "\\final.pck");
  ASSERT_NE(INVALID_HANDLE_VALUE, one);
  ASSERT_NE(INVALID_HANDLE_VALUE, same);
  EXPECT_EQ("new", ReadWhole(one));
  BY_HANDLE_FILE_INFORMATION a, b;
  ASSERT_TRUE(GetFileInformationByHandle(one, &a));
  ASSERT_TRUE(GetFileInformationByHandle(same, &b));
  EXPECT_EQ(a.dwVolumeSerialNumber, b.dwVolumeSerialNumber);
  EXPECT_EQ(a.nFileIndexHigh, b.nFileIndexHigh);
  EXPECT_EQ(a.nFileIndexLow, b.nFileIndexLow);
  HANDLE different = CreateForWriting("different.pck");
  ASSERT_NE(INVALID_HANDLE_VALUE, different);
  ASSERT_TRUE(GetFileInformationByHandle(different, &b));
  EXPECT_FALSE(a.nFileIndexLow == b.nFileIndexLow && a.nFileIndexHigh == b.nFileIndexHigh);
  CloseHandle(different);
  CloseHandle(same);
  CloseHandle(one);

  EXPECT_FALSE(SetCurrentDirectoryA("final.pck"));
  EXPECT_EQ(ERROR_DIRECTORY, GetLastError());
  ASSERT_TRUE(SetCurrentDirectoryA(saved));
}

// Below a folder handle: every component is one name, and a link is refused wherever it is, also
// one that replaces a folder after the folder's handle was opened.
TEST(Files, NamesBelowAFolderHandleNeverPassThroughALink) {
  TScratchFolder scratch, outside;
  const std::string root = scratch.system;
  ASSERT_EQ(0, symlink(outside.system.c_str(), (root + "/link").c_str()));
  const std::basic_string<WCHAR> topName(scratch.narrow.begin(), scratch.narrow.end());  // ASCII
  HANDLE top = OpenFolderW(topName.c_str());
  ASSERT_NE(nullptr, top);

  for (const WCHAR* component : {WIDE_TEXT(""), WIDE_TEXT("."), WIDE_TEXT(".."), WIDE_TEXT("a\\b"), WIDE_TEXT("a/b")}) {
    EXPECT_EQ(nullptr, OpenFolderBeneath(top, component, TRUE));
    EXPECT_EQ(ERROR_INVALID_NAME, GetLastError());
  }
  EXPECT_EQ(nullptr, OpenFolderBeneath(top, WIDE_TEXT("link"), TRUE));
  EXPECT_EQ(ERROR_CANT_RESOLVE_FILENAME, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileBeneath(top, WIDE_TEXT("link"), GENERIC_WRITE, 0, CREATE_ALWAYS));
  EXPECT_EQ(ERROR_CANT_RESOLVE_FILENAME, GetLastError());
  EXPECT_NE(0u, GetFileAttributesBeneath(top, WIDE_TEXT("link")) & FILE_ATTRIBUTE_REPARSE_POINT);

  HANDLE made = OpenFolderBeneath(top, WIDE_TEXT("made"), TRUE);
  ASSERT_NE(nullptr, made);
  // The folder is swapped for a link to outside: its handle still leads to the folder itself.
  ASSERT_EQ(0, rename((root + "/made").c_str(), (root + "/moved").c_str()));
  ASSERT_EQ(0, symlink(outside.system.c_str(), (root + "/made").c_str()));
  HANDLE file = CreateFileBeneath(made, WIDE_TEXT("f.txt"), GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  EXPECT_TRUE(WriteFile(file, "x", 1, nullptr, nullptr));
  CloseHandle(file);
  EXPECT_EQ(0, access((root + "/moved/f.txt").c_str(), F_OK));
  EXPECT_NE(0, access((outside.system + "/f.txt").c_str(), F_OK));
  EXPECT_EQ(nullptr, OpenFolderBeneath(top, WIDE_TEXT("made"), FALSE)) << "the link now there is refused";

  // A rename within the folder never replaces a folder; a delete, a listing.
  HANDLE sub = OpenFolderBeneath(made, WIDE_TEXT("sub"), TRUE);
  ASSERT_NE(nullptr, sub);
  CloseHandle(sub);
  EXPECT_FALSE(MoveFileBeneath(made, WIDE_TEXT("f.txt"), WIDE_TEXT("sub"), MOVEFILE_REPLACE_EXISTING));
  EXPECT_TRUE(MoveFileBeneath(made, WIDE_TEXT("f.txt"), WIDE_TEXT("g.txt"), 0));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesBeneath(made, WIDE_TEXT("g.txt")));
  // Any name the system can hold, in UTF-16: here it is the UTF-8 of the same letters.
  HANDLE wide = CreateFileBeneath(made, WIDE_TEXT("\u65E5\u0438\u00E9 \U0001F600.txt"), GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, wide);
  CloseHandle(wide);
  EXPECT_EQ(0, access((root + "/moved/\xE6\x97\xA5\xD0\xB8\xC3\xA9 \xF0\x9F\x98\x80.txt").c_str(), F_OK));
  EXPECT_TRUE(DeleteFileBeneath(made, WIDE_TEXT("g.txt")));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesBeneath(made, WIDE_TEXT("g.txt")));
  CloseHandle(made);
  CloseHandle(top);
}

TEST(Files, SystemTextsForCodesWithoutAnErrno) {
  WCHAR* text = nullptr;
  SetLastError(ERROR_NO_MORE_FILES);
  ASSERT_GT(FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_NO_MORE_FILES, 0x400,
                           reinterpret_cast<LPWSTR>(&text), 0, nullptr),
            0u);
  EXPECT_EQ(TWideText(WIDE_TEXT("There are no more files.\r\n")), TWideText(text));
  LocalFree(text);
  text = nullptr;
  EXPECT_EQ(0u, FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 987654u, 0x400,
                               reinterpret_cast<LPWSTR>(&text), 0, nullptr));
  EXPECT_EQ(nullptr, text);
  EXPECT_EQ(ERROR_MR_MID_NOT_FOUND, GetLastError());
}
