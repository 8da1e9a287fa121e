#include "FuzzSetup.h"

#include "engine/Compression.h"
#include "engine/Kodirovaniechisel.h"
#include "engine/Matematicheskieoperacii.h"
#include "foundation/Memdiag.h"
#include "foundation/Operaciisostrokami.h"
#include "foundation/Operaciispamyatyu.h"

void StartEngineUnits() {
  OperaciispamyatyuStartup();
  MemdiagStartup();
  OperaciisostrokamiStartup();
  MatematicheskieoperaciiStartup();
  KodirovaniechiselStartup();
  CompressionStartup();
}
