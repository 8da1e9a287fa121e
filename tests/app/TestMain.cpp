// Tests of the application layer. The units start in the program's order and stop in reverse
// after the tests. Kernel starts as if the program lay in a scratch folder, so its code-page
// table file is made there; then the process's real arguments are handed to the platform again.
//
// No display is opened and standard input is not a terminal, so a message window is answered
// the way Escape answers it and its text goes to standard error.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/Units.h"
#include "platform/win32.h"

namespace {
int programArgc = 0;
char** programArgv = nullptr;
std::string scratchFolder;
}  // namespace

// The test program's own arguments, for tests that set others for a while.
void RestoreProgramArguments() { PosixSetArguments(programArgc, programArgv); }
// A private temporary folder (POSIX path) that lives as long as the test program.
const std::string& AppScratchFolder() { return scratchFolder; }

int main(int argc, char** argv) {
  programArgc = argc;
  programArgv = argv;
  ::testing::InitGoogleTest(&argc, argv);
  unsetenv("DISPLAY");
  if (isatty(STDIN_FILENO)) {
    const int nothing = open("/dev/null", O_RDONLY);
    if (nothing >= 0) {
      dup2(nothing, STDIN_FILENO);
      close(nothing);
    }
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "velmora-app-XXXXXX").string();
  if (mkdtemp(&pattern[0]) == nullptr) {
    std::perror("mkdtemp");
    return 2;
  }
  scratchFolder = pattern;
  std::string program = scratchFolder + "/test_app";
  char* scratchArgv[] = {&program[0], nullptr};
  PosixSetArguments(1, scratchArgv);
  PosixSetModulePath(program.c_str());

  StartUnits();
  RestoreProgramArguments();

  const int result = RUN_ALL_TESTS();

  StopUnits();

  std::error_code ignored;
  std::filesystem::remove_all(scratchFolder, ignored);
  return result;
}
