// Tests of the application layer: the arguments are handed to the platform first, then the
// foundation units start in the program's order; they stop in reverse after the tests.
#include <gtest/gtest.h>

#include "foundation/Memdiag.h"
#include "foundation/Operaciisostrokami.h"
#include "foundation/Operaciispamyatyu.h"
#include "foundation/Tstring.h"
#include "platform/win32.h"

int main(int argc, char** argv) {
  PosixSetArguments(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  OperaciispamyatyuStartup();
  MemdiagStartup();
  OperaciisostrokamiStartup();
  TstringStartup();
  const int result = RUN_ALL_TESTS();
  TstringShutdown();
  OperaciisostrokamiShutdown();
  MemdiagShutdown();
  OperaciispamyatyuShutdown();
  return result;
}
