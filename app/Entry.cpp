// Process entry: hands the arguments to the platform layer, starts the units in their fixed order,
// runs the memory probe and the main routine, and stops the units in reverse. SIGINT, SIGTERM and
// SIGHUP ask the run to stop the way Escape in the progress window does, also in hidden mode.
#include "app/CompressEntry.h"
#include "app/Reports.h"
#include "app/RestoreEntry.h"
#include "app/RunControl.h"
#include "app/MainRoutine.h"
#include "foundation/Units.h"
#include "platform/Process.h"

int main(int argc, char** argv) {
  TakeProcessArguments(argc, argv);
  CatchQuitSignals(NoteQuitSignal);

  StartUnits<kAppLayer>();

  MemoryProbe();
  const int code = MainRoutine();

  StopUnits<kAppLayer>();

  RestoreTerminal();
  return code;
}
