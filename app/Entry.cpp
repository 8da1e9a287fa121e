// Process entry: hands the arguments to the platform layer, starts the units in their fixed order,
// runs the memory probe and the main routine, and stops the units in reverse. SIGINT, SIGTERM and
// SIGHUP ask the run to stop the way Escape in the progress window does, also in hidden mode.
#include <csignal>

#include "app/FileJobs.h"
#include "app/MainRoutine.h"
#include "app/Operaciisfaylamiipapkami.h"
#include "app/Sistemniesoobzheniya.h"
#include "engine/Compression.h"
#include "engine/Kodirovaniechisel.h"
#include "engine/Matematicheskieoperacii.h"
#include "foundation/Memdiag.h"
#include "foundation/Operaciisostrokami.h"
#include "foundation/Operaciispamyatyu.h"
#include "foundation/Tstring.h"
#include "platform/win32.h"
#include "ui/Kernel.h"
#include "ui/Preobrazovaniechisel.h"
#include "ui/Toknosoobzheniy.h"
#include "ui/Toknosostoyaniya.h"
#include "ui/Vvodchisel.h"

namespace {

extern "C" void OnQuitSignal(int) {
  NoteQuitSignal();
#ifndef _WIN32
  PosixRequestQuit();
#endif
}

void InstallQuitSignals() {
  std::signal(SIGINT, OnQuitSignal);
  std::signal(SIGTERM, OnQuitSignal);
#ifdef SIGHUP
  std::signal(SIGHUP, OnQuitSignal);
#endif
}

}  // namespace

int main(int argc, char** argv) {
#ifndef _WIN32
  PosixSetArguments(argc, argv);
#endif
  InstallQuitSignals();

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

  MemoryProbe();
  const int code = MainRoutine();

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

#ifndef _WIN32
  PosixRestoreTerminal();
#endif
  return code;
}
