// Starts the foundation units in the program's order, runs the tests and stops them in reverse.
#include <gtest/gtest.h>

#include "foundation/Memdiag.h"
#include "foundation/Operaciispamyatyu.h"
#include "foundation/Operaciisostrokami.h"
#include "foundation/Tstring.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  OperaciispamyatyuStartup();
  MemdiagStartup();
  OperaciisostrokamiStartup();
  TstringStartup();
  int result = RUN_ALL_TESTS();
  TstringShutdown();
  OperaciisostrokamiShutdown();
  MemdiagShutdown();
  OperaciispamyatyuShutdown();
  return result;
}
