// Every unit's start-up in the fixed order of the program, and the shut-downs in reverse.
#include "app/Units.h"

#include "app/Operaciisfaylamiipapkami.h"
#include "app/Sistemniesoobzheniya.h"
#include "engine/Compression.h"
#include "engine/Kodirovaniechisel.h"
#include "engine/Matematicheskieoperacii.h"
#include "foundation/Memdiag.h"
#include "foundation/Operaciisostrokami.h"
#include "foundation/Operaciispamyatyu.h"
#include "foundation/Tstring.h"
#include "ui/Kernel.h"
#include "ui/Preobrazovaniechisel.h"
#include "ui/Toknosoobzheniy.h"
#include "ui/Toknosostoyaniya.h"
#include "ui/Vvodchisel.h"

void StartUnits() {
  OperaciispamyatyuStartup();
  MemdiagStartup();
  OperaciisostrokamiStartup();
  TstringStartup();
  KernelStartup();
  ToknosoobzheniyStartup();
  MatematicheskieoperaciiStartup();
  ToknosostoyaniyaStartup();
  SistemniesoobzheniyaStartup();
  OperaciisfaylamiipapkamiStartup();
  PreobrazovaniechiselStartup();
  VvodchiselStartup();
  KodirovaniechiselStartup();
  CompressionStartup();
}

void StopUnits() {
  CompressionShutdown();
  KodirovaniechiselShutdown();
  VvodchiselShutdown();
  PreobrazovaniechiselShutdown();
  OperaciisfaylamiipapkamiShutdown();
  SistemniesoobzheniyaShutdown();
  ToknosostoyaniyaShutdown();
  MatematicheskieoperaciiShutdown();
  ToknosoobzheniyShutdown();
  KernelShutdown();
  TstringShutdown();
  OperaciisostrokamiShutdown();
  MemdiagShutdown();
  OperaciispamyatyuShutdown();
}
