#include <gtest/gtest.h>

#include "engine/Compression.h"
#include "engine/Kodirovaniechisel.h"
#include "engine/Matematicheskieoperacii.h"
#include "foundation/Memdiag.h"
#include "foundation/Operaciisostrokami.h"
#include "foundation/Operaciispamyatyu.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  OperaciispamyatyuStartup();
  MemdiagStartup();
  OperaciisostrokamiStartup();
  MatematicheskieoperaciiStartup();
  KodirovaniechiselStartup();
  CompressionStartup();
  int result = RUN_ALL_TESTS();
  CompressionShutdown();
  KodirovaniechiselShutdown();
  MatematicheskieoperaciiShutdown();
  OperaciisostrokamiShutdown();
  MemdiagShutdown();
  OperaciispamyatyuShutdown();
  return result;
}
