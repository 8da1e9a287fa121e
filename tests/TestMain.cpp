// The main of every test program. It starts the program's units in the program's order, as if the
// program lay in a scratch folder (so the code-page table file is made there, never in the tree),
// runs the tests, and stops the units in reverse.
//
// No display is opened (DISPLAY is put aside as VELMORA_TEST_DISPLAY) and standard input is not a
// terminal, so a message window is answered the way Escape answers it and its text goes to
// standard error.
#include "tests/TestMain.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "app/Units.h"

#if defined(_WIN32)

// The Windows build runs in its own folder under Wine: the module is the test program itself.
const std::string& TestScratchFolder() {
  static const std::string folder = ".";
  return folder;
}
void SetTestProgram(const std::string&, const char*, const char*) {}
void RestoreProgramArguments() {}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  StartUnits();
  const int result = RUN_ALL_TESTS();
  StopUnits();
  return result;
}

#else

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "platform/win32.h"

namespace {
int programArgc = 0;
char** programArgv = nullptr;
std::string scratchFolder;
}  // namespace

const std::string& TestScratchFolder() { return scratchFolder; }

void SetTestProgram(const std::string& programPath, const char* argument, const char* startedAs) {
  PosixSetModulePath(programPath.c_str());
  std::string program = startedAs != nullptr ? startedAs : programPath;
  std::string extra = argument != nullptr ? argument : "";
  char* argv[3] = {&program[0], argument != nullptr ? &extra[0] : nullptr, nullptr};
  PosixSetArguments(argument != nullptr ? 2 : 1, argv);
}

void RestoreProgramArguments() { PosixSetArguments(programArgc, programArgv); }

int main(int argc, char** argv) {
  programArgc = argc;
  programArgv = argv;
  ::testing::InitGoogleTest(&argc, argv);
  // The display, if any, is kept for the one test that asks for it (see TestDisplay).
  if (const char* display = std::getenv("DISPLAY")) setenv("VELMORA_TEST_DISPLAY", display, 1);
  unsetenv("DISPLAY");
  if (isatty(STDIN_FILENO)) {
    const int nothing = open("/dev/null", O_RDONLY);
    if (nothing >= 0) {
      dup2(nothing, STDIN_FILENO);
      close(nothing);
    }
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "velmora-test-XXXXXX").string();
  if (mkdtemp(&pattern[0]) == nullptr) {
    std::perror("mkdtemp");
    return 2;
  }
  scratchFolder = pattern;
  SetTestProgram(scratchFolder + "/test");
  StartUnits();
  RestoreProgramArguments();

  const int result = RUN_ALL_TESTS();

  StopUnits();
  std::error_code ignored;
  std::filesystem::remove_all(scratchFolder, ignored);
  return result;
}

#endif
