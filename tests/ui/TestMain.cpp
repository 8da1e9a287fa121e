// Starts the units the user-interface tests need in the program's order, from a scratch folder
// so that the code-page table file is never written into the tree, runs the tests and stops the
// units in reverse.
//
// The windows run on canvases only (no display is opened) and no question waits for a person:
// standard input is not a terminal, so the terminal presentation answers an unattended message
// window as Escape does once its loop has nothing else to serve.
//
// Units of this layer that are not linked into the test program (no test uses them) are
// referenced weakly and skipped, so a new test file only has to exist to join the program.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "UiTestSupport.h"
#include "foundation/Memdiag.h"
#include "foundation/Operaciispamyatyu.h"
#include "foundation/Operaciisostrokami.h"
#include "foundation/Tstring.h"
#include "platform/win32.h"
#include "ui/Kernel.h"

void ToknosoobzheniyStartup() __attribute__((weak));
void ToknosoobzheniyShutdown() __attribute__((weak));
void MatematicheskieoperaciiStartup() __attribute__((weak));
void MatematicheskieoperaciiShutdown() __attribute__((weak));
void ToknosostoyaniyaStartup() __attribute__((weak));
void ToknosostoyaniyaShutdown() __attribute__((weak));
void PreobrazovaniechiselStartup() __attribute__((weak));
void PreobrazovaniechiselShutdown() __attribute__((weak));
void VvodchiselStartup() __attribute__((weak));
void VvodchiselShutdown() __attribute__((weak));

namespace {

std::string testFolder;

struct TOptionalUnit {
  void (*startup)();
  void (*shutdown)();
};

// After Kernel, in the program's order.
const TOptionalUnit optionalUnits[] = {
    {ToknosoobzheniyStartup, ToknosoobzheniyShutdown},
    {MatematicheskieoperaciiStartup, MatematicheskieoperaciiShutdown},
    {ToknosostoyaniyaStartup, ToknosostoyaniyaShutdown},
    {PreobrazovaniechiselStartup, PreobrazovaniechiselShutdown},
    {VvodchiselStartup, VvodchiselShutdown},
};

// The module is the program file; the command line's first word is the name it was started by.
void SetProgram(const std::string& programPath, const char* argument, const char* startedAs) {
  PosixSetModulePath(programPath.c_str());
  std::string program = startedAs != nullptr ? startedAs : programPath;
  std::string extra = argument != nullptr ? argument : "";
  char* argv[3] = {&program[0], argument != nullptr ? &extra[0] : nullptr, nullptr};
  PosixSetArguments(argument != nullptr ? 2 : 1, argv);
}

}  // namespace

const std::string& UiTestFolder() { return testFolder; }

void RestartKernelAs(const std::string& programPath, const char* argument, const char* startedAs) {
  KernelShutdown();
  SetProgram(programPath, argument, startedAs);
  KernelStartup();
}

void RestartKernelInTestFolder() { RestartKernelAs(testFolder + "/test_ui", "--scratch"); }

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  unsetenv("DISPLAY");
  if (isatty(STDIN_FILENO)) {
    const int nothing = open("/dev/null", O_RDONLY);
    if (nothing >= 0) {
      dup2(nothing, STDIN_FILENO);
      close(nothing);
    }
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "velmora-ui-XXXXXX").string();
  if (mkdtemp(&pattern[0]) == nullptr) {
    std::perror("mkdtemp");
    return 2;
  }
  testFolder = pattern;
  SetProgram(testFolder + "/test_ui", "--scratch", nullptr);

  OperaciispamyatyuStartup();
  MemdiagStartup();
  OperaciisostrokamiStartup();
  TstringStartup();
  KernelStartup();
  for (const TOptionalUnit& unit : optionalUnits)
    if (unit.startup != nullptr) unit.startup();

  int result = RUN_ALL_TESTS();

  for (size_t k = sizeof optionalUnits / sizeof optionalUnits[0]; k-- > 0;)
    if (optionalUnits[k].shutdown != nullptr) optionalUnits[k].shutdown();
  KernelShutdown();
  TstringShutdown();
  OperaciisostrokamiShutdown();
  MemdiagShutdown();
  OperaciispamyatyuShutdown();

  std::error_code ignored;
  std::filesystem::remove_all(testFolder, ignored);
  return result;
}
