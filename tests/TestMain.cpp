// The main of every test program. It starts the units of its layer and the layers below in the
// program's order (VELMORA_TEST_LAYER names the layer), as if the program lay in a scratch folder (so the code-page table file is made there, never in the tree),
// runs the tests, and stops the units in reverse.
//
// No display is opened (DISPLAY is put aside as VELMORA_TEST_DISPLAY) and standard input is not a
// terminal, so a message window is answered the way Escape answers it and its text goes to
// standard error.
#include "tests/TestMain.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "foundation/Units.h"
#include "tests/platform/PlatformTestSupport.h"
#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {
void SetVariable(const char* name, const char* value) {
#if defined(_WIN32)
  _putenv_s(name, value != nullptr ? value : "");
#else
  if (value != nullptr)
    setenv(name, value, 1);
  else
    unsetenv(name);
#endif
}
}  // namespace

TScopedEnvironment::TScopedEnvironment(const char* name, const char* value) : name_(name) {
  const char* old = std::getenv(name);
  hadValue_ = old != nullptr;
  if (hadValue_) old_ = old;
  SetVariable(name, value);
}

TScopedEnvironment::~TScopedEnvironment() { SetVariable(name_.c_str(), hadValue_ ? old_.c_str() : nullptr); }

bool MakeFolder(const std::string& path) {
  std::error_code error;
  return std::filesystem::create_directory(path, error) && !error;
}

namespace {
int programArgc = 0;
char** programArgv = nullptr;
std::string scratchFolder;
}  // namespace

const std::string& TestScratchFolder() { return scratchFolder; }

#if defined(_WIN32)
// The module is the test program itself, wherever it lies; the arguments are its own.
void SetTestProgram(const std::string&, const char*, const char*) {}
void RestoreProgramArguments() {}
#else
void SetTestProgram(const std::string& programPath, const char* argument, const char* startedAs) {
  PosixSetModulePath(programPath.c_str());
  std::string program = startedAs != nullptr ? startedAs : programPath;
  std::string extra = argument != nullptr ? argument : "";
  char* argv[3] = {&program[0], argument != nullptr ? &extra[0] : nullptr, nullptr};
  PosixSetArguments(argument != nullptr ? 2 : 1, argv);
}

void RestoreProgramArguments() { PosixSetArguments(programArgc, programArgv); }
#endif

int main(int argc, char** argv) {
  programArgc = argc;
  programArgv = argv;
  ::testing::InitGoogleTest(&argc, argv);
#if !defined(_WIN32)
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
#endif
  TScratchFolder scratch;
  if (scratch.system.empty()) {
    std::perror("scratch folder");
    return 2;
  }
  scratchFolder = scratch.system;
  SetTestProgram(scratchFolder + "/test");
  StartUnits<VELMORA_TEST_LAYER>();
  RestoreProgramArguments();

  const int result = RUN_ALL_TESTS();

  StopUnits<VELMORA_TEST_LAYER>();
  return result;
}
