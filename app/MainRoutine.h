// The program's main routine: the memory probe and the run from the command line to the exit
// code. A run is one object (app/Run.h) that the jobs take and whose results they return.
#pragma once

// Exit codes.
enum : int {
  ExitDone = 0,            // the job did all of its work
  ExitFolderMissing = 1,   // the source's folder does not exist or cannot be entered
  ExitOutputRefused = 2,   // the user kept the existing archive, it cannot be created, or it is the source
  ExitUsageOrBuffer = 3,   // usage shown, or the working buffer cannot be had
  ExitIncomplete = 4,      // the job ran but did not do all of its work (failure, damage, cancel)
  ExitNoMemory = 10,       // the start-up memory probe failed
};

// Creates and frees a 10-byte block; on failure shows "Not enough RAM to run application" and
// clears the memory-available flag. Run once after the units have started.
void MemoryProbe();

// The run; returns the process's exit code.
int MainRoutine();

