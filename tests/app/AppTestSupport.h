// Shared by the application-layer tests: whole-file bytes, the current directory, the notice
// snooze, and a fixture that runs each test in a scratch folder of its own as the current directory.
#pragma once
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "foundation/Tstring.h"
#include "platform/win32.h"
#include "tests/TestMain.h"
#include "tests/platform/PlatformTestSupport.h"
#include "ui/Toknosoobzheniy.h"

using TBytes = std::vector<uint8_t>;

inline TBytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const TBytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::string Text(const TAnsiString& text) {
  return text.Length() > 0 ? std::string(text.Data(), text.Length()) : std::string();
}

inline std::string Cwd() {
  char here[8192];
  return getcwd(here, sizeof here) != nullptr ? std::string(here) : std::string();
}

// A notice answered unattended (Cancel) snoozes the next ones; this lets the snooze run out.
inline void Unsnooze() {
  if (!NoticesSnoozed()) return;
  PosixAdvanceTimerClock(10001);
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

// Each test runs with a scratch folder of its own as the current directory and no snoozed notice.
class TScratchFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = Cwd();
    ASSERT_FALSE(scratch.system.empty());
    ASSERT_EQ(0, chdir(scratch.system.c_str()));
    Unsnooze();
  }
  void TearDown() override {
    EXPECT_EQ(0, chdir(saved.c_str()));
    Unsnooze();
  }

  std::string Path(const std::string& name) const { return scratch.system + "/" + name; }
  void File(const std::string& name) { std::ofstream(Path(name), std::ios::binary) << "data"; }
  void Folder(const std::string& name) { ASSERT_EQ(0, mkdir(Path(name).c_str(), 0755)) << name; }

  std::string saved;
  TScratchFolder scratch;
};
