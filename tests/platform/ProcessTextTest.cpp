#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "platform/win32.h"
#include "tests/TestMain.h"

namespace {

#if !defined(_WIN32)
std::string CommandLineFor(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  argv.push_back(nullptr);
  PosixSetArguments(static_cast<int>(arguments.size()), argv.data());
  return GetCommandLineA();
}
std::basic_string<WCHAR> WideCommandLineFor(std::vector<std::string> arguments) {
  CommandLineFor(std::move(arguments));
  return GetCommandLineW();
}
#endif


}  // namespace

#if !defined(_WIN32)  // the arguments as a shell passes them are the POSIX layer's
TEST(CommandLine, RebuiltAsWindowsWouldPassIt) {
  EXPECT_EQ("\\usr\\bin\\velmora -o -h data.txt", CommandLineFor({"/usr/bin/velmora", "-o", "-h", "data.txt"}));
  EXPECT_EQ("\"\\opt\\my tools\\velmora\" \"my file.txt\"", CommandLineFor({"/opt/my tools/velmora", "my file.txt"}));
  EXPECT_EQ("velmora /? \\home\\u\\a.txt -w=2\\3", CommandLineFor({"velmora", "/?", "/home/u/a.txt", "-w=2/3"}));
  // Quotes inside an argument are escaped, backslashes before a quote or the closing quote doubled.
  EXPECT_EQ("velmora \"say \\\"hi\\\"\" \"tail\\ dir\\\\\" \"\" \"x\\\\\\\"y\\\"\"",
            CommandLineFor({"velmora", "say \"hi\"", "tail\\ dir\\", "", "x\\\"y\""}));
  // UTF-8 arguments arrive as cp1251; a character cp1251 lacks becomes '?'.
  EXPECT_EQ("v \\tmp\\\xCF\xF0\xE8\xE2\xE5\xF2.txt a?b",
            CommandLineFor({"v", "/tmp/\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt", "a\xE4\xB8\x80" "b"}));
  // The UTF-16 command line keeps every character, a pair for one beyond the BMP, and a byte that
  // is not UTF-8 as the lone unit 0xDC00 + byte.
  EXPECT_EQ(WIDE_TEXT("v \\tmp\\\u041F.txt \"a\u4E00 \U0001F600\" x\xDCFF\xDCC3y"),
            WideCommandLineFor({"v", "/tmp/\xD0\x9F.txt", "a\xE4\xB8\x80 \xF0\x9F\x98\x80", "x\xFF\xC3y"}));
}
#endif

TEST(Module, OwnPathAndHandle) {
  EXPECT_NE(nullptr, GetModuleHandleA(nullptr));
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  ASSERT_GT(length, 0u);
  std::string name(path, length);
  EXPECT_EQ(std::string::npos, name.find('/'));
  char small[5];
  EXPECT_EQ(5u, GetModuleFileNameA(nullptr, small, 5));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
#if !defined(_WIN32)  // Windows leaves the cut name unterminated on some versions
  EXPECT_EQ('\\', name[0]);
  EXPECT_EQ("\\test", name.substr(name.size() - 5));  // the shared test main's module
  EXPECT_EQ(0, small[4]);
#endif
}

TEST(CodePage, Cp1251AndUtf8Conversions) {
  char bytes[64];
  for (int k = 0; k < 64; ++k) bytes[k] = static_cast<char>(0xC0 + k);
  WCHAR wide[64];
  ASSERT_EQ(64, MultiByteToWideChar(1251, 0, bytes, 64, wide, 64));
  for (int k = 0; k < 64; ++k) EXPECT_EQ(0x0410 + k, wide[k]);
  EXPECT_EQ(0, MultiByteToWideChar(1251, 0, bytes, 64, wide, 63));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
  EXPECT_EQ(64, MultiByteToWideChar(1251, 0, bytes, 64, nullptr, 0));
#if !defined(_WIN32)  // Windows maps it to U+0098 unless MB_ERR_INVALID_CHARS is given
  const char undefined = '\x98';  // the one byte Windows-1251 leaves undefined
  EXPECT_EQ(0, MultiByteToWideChar(1251, 0, &undefined, 1, wide, 1));
#endif
  const char euro = '\x88';
  ASSERT_EQ(1, MultiByteToWideChar(1251, 0, &euro, 1, wide, 1));
  EXPECT_EQ(0x20AC, wide[0]);

  const WCHAR error[] = WIDE_TEXT("\u041E\u0448\u0438\u0431\u043A\u0430 \u4E00");
  char narrow[16] = {};
  BOOL usedDefault = FALSE;
  ASSERT_EQ(8, WideCharToMultiByte(1251, 0, error, 8, narrow, 16, nullptr, &usedDefault));
  EXPECT_STREQ("\xCE\xF8\xE8\xE1\xEA\xE0 ?", narrow);
  EXPECT_TRUE(usedDefault);

  const char utf8[] = "\xD0\x96 \xF0\x9F\x98\x80";  // Ж and a character beyond the BMP
  ASSERT_EQ(5, MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 64));
  EXPECT_EQ(0x0416, wide[0]);
  EXPECT_EQ(0xD83D, wide[2]);
  EXPECT_EQ(0xDE00, wide[3]);
  EXPECT_EQ(0, wide[4]);
  char back[16];
  ASSERT_EQ(8, WideCharToMultiByte(CP_UTF8, 0, wide, -1, back, 16, nullptr, nullptr));
  EXPECT_STREQ(utf8, back);
}

#if !defined(_WIN32)  // the locale of the POSIX layer comes from its environment variables
TEST(Locale, DecimalSeparatorAndLcidFromTheEnvironment) {
  {
    TScopedEnvironment all("LC_ALL", nullptr);
    TScopedEnvironment numeric("LC_NUMERIC", nullptr);
    TScopedEnvironment lang("LANG", "ru_RU.UTF-8");
    EXPECT_EQ(0x0419u, GetUserDefaultLCID());
  }
  {
    TScopedEnvironment all("LC_ALL", "de_AT.UTF-8");
    EXPECT_EQ(0x0C07u, GetUserDefaultLCID());
  }
  {
    TScopedEnvironment all("LC_ALL", "C");
    char separator[16];
    ASSERT_EQ(2, GetLocaleInfoA(GetUserDefaultLCID(), LOCALE_SDECIMAL, separator, 16));
    EXPECT_STREQ(".", separator);
    EXPECT_EQ(2, GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, nullptr, 0));
    EXPECT_EQ(0, GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, 1));
  }
}
#endif

TEST(Timers, WaitUntilDueThenCancelAndClose) {
  HANDLE timer = CreateWaitableTimerA(nullptr, TRUE, nullptr);
  ASSERT_NE(nullptr, timer);
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(timer, 0)) << "an unset timer is not signalled";
  LARGE_INTEGER due;
  due.QuadPart = -30 * 10000LL;  // 30 ms, relative
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(timer, INFINITE));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(timer, 0)) << "a manual-reset timer stays signalled";
  EXPECT_TRUE(CancelWaitableTimer(timer));

  due.QuadPart = -3600LL * 10000000LL;  // an hour away: not signalled now, and cancelled it never is
  ASSERT_TRUE(SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(timer, 1));
  EXPECT_TRUE(CancelWaitableTimer(timer));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(timer, 0));
  EXPECT_TRUE(CloseHandle(timer));
  EXPECT_FALSE(CloseHandle(timer));
  EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());

  HANDLE once = CreateWaitableTimerA(nullptr, FALSE, nullptr);
  due.QuadPart = 0;  // an absolute time long past: due at once
  ASSERT_TRUE(SetWaitableTimer(once, &due, 0, nullptr, nullptr, FALSE));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(once, INFINITE));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(once, 0)) << "a synchronisation timer is reset by the wait";
  EXPECT_TRUE(CloseHandle(once));
}

#if !defined(_WIN32)  // transparent huge pages are Linux's
namespace {
// The VmFlags of the mapping that holds `p` in /proc/self/smaps; empty when none is found.
std::string VmFlagsOf(const void* p) {
  std::ifstream smaps("/proc/self/smaps");
  const uintptr_t at = reinterpret_cast<uintptr_t>(p);
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    unsigned long begin = 0, end = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx ", &begin, &end) == 2) inside = at >= begin && at < end;
    if (inside && line.rfind("VmFlags:", 0) == 0) return line;
  }
  return "";
}
}  // namespace

// Committed memory keeps ordinary pages, also when it is committed again after a decommit.
TEST(Memory, CommittedRangesKeepOrdinaryPages) {
  const SIZE_T size = 8u << 20;
  uint8_t* p = static_cast<uint8_t*>(VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(nullptr, p);
  if (VmFlagsOf(p).empty()) GTEST_SKIP() << "no VmFlags in /proc/self/smaps";
  EXPECT_NE(std::string::npos, VmFlagsOf(p).find(" nh")) << VmFlagsOf(p);
  ASSERT_TRUE(VirtualFree(p, size, MEM_DECOMMIT));
  ASSERT_EQ(p, VirtualAlloc(p, size, MEM_COMMIT, PAGE_READWRITE));
  EXPECT_NE(std::string::npos, VmFlagsOf(p).find(" nh")) << VmFlagsOf(p);
  EXPECT_TRUE(VirtualFree(p, 0, MEM_RELEASE));
}
#endif
