// Cancel and progress for the jobs: the once-per-block cancel check (the progress window's
// Escape, WM_QUIT, or a quit signal) and the progress positions posted to the window.
#pragma once
#include <cstdint>

#include "app/Names.h"
#include "ui/Toknosostoyaniya.h"

// Once per block: drains every pending message of the thread and reports whether it held a
// cancel (WM_QUIT, or an Escape key release); a quit signal also counts.
bool CancelRequested();

// Async-signal-safe: records that SIGINT/SIGTERM/SIGHUP asked the run to stop, and makes every
// block in flight give up. The platform's quit request makes the next cancel check see WM_QUIT;
// this flag tells a restore to stop after the entry in progress instead of going on.
void NoteQuitSignal();
bool QuitSignalled();

// The part of the bar a job of a run fills: from base to end, in the window (none: no bar).
struct TProgressSpan {
  TOknoSostoyaniya* window = nullptr;
  float base = 0.0f;
  float end = 1.0f;
};

// Posts a progress position and pumps the window (nothing without a window).
void PostProgress(TOknoSostoyaniya* window, float position, float base);
// Tells the window which file the job is at: "number/total name" (nothing without a window).
void PostEntryProgress(TOknoSostoyaniya* window, uint32_t number, uint32_t total, const TWideName& name);
// The progress of `done` of `total` bytes of one file, from base to end, in extended precision.
float PositionWithin(float base, float end, uint64_t done, uint64_t total);
// The share of the bar that `done` of `total` items fill.
float ShareOf(uint32_t done, uint32_t total);
