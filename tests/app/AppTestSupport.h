// Shared by the application-layer tests (beside the user interface's helpers): the current
// directory, the notice snooze, and a fixture that runs each test in a scratch folder of its own
// as the current directory.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/ui/UiTestSupport.h"
#include "ui/Toknosoobzheniy.h"

inline std::string Cwd() {
  std::error_code error;
  return std::filesystem::current_path(error).string();
}

inline bool ChangeFolder(const std::string& path) {
  std::error_code error;
  std::filesystem::current_path(path, error);
  return !error;
}

// A notice answered unattended (Cancel) snoozes the next ones; the message window's unit starts
// afresh, as at the program's start, without the snooze.
inline void Unsnooze() {
  if (!NoticesSnoozed()) return;
  ToknosoobzheniyShutdown();
  ToknosoobzheniyStartup();
}

// Each test runs with a scratch folder of its own as the current directory and no snoozed notice.
class TScratchFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = Cwd();
    ASSERT_FALSE(scratch.system.empty());
    ASSERT_TRUE(ChangeFolder(scratch.system));
    Unsnooze();
  }
  void TearDown() override {
    EXPECT_TRUE(ChangeFolder(saved));
    Unsnooze();
  }

  std::string Path(const std::string& name) const {
    return (std::filesystem::path(scratch.system) / name).make_preferred().string();
  }
  void File(const std::string& name) { std::ofstream(Path(name), std::ios::binary) << "data"; }
  void Folder(const std::string& name) { ASSERT_TRUE(MakeFolder(Path(name))) << name; }

  std::string saved;
  TScratchFolder scratch;
};
