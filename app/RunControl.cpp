// The cancel check once per block, the quit signal, and the progress the jobs post.
#include "app/RunControl.h"

#include "app/Reports.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include "app/BlockPipeline.h"
#include "platform/win32.h"

namespace {

volatile std::sig_atomic_t quitSignal = 0;

// The Escape/quit convention of the progress display: removed messages are dropped, not
// dispatched; the drain stops at the first quit.
bool DrainForCancel() {
  MSG message;
  UINT last = WM_USER;
  while (last != WM_QUIT && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    last = message.message;
    if (last == WM_KEYUP && message.wParam == VK_ESCAPE) last = WM_QUIT;
  }
  return last == WM_QUIT;
}

}  // namespace

float PositionWithin(float base, float end, uint64_t done, uint64_t total) {
  if (total == 0) return base;
  const long double share = static_cast<long double>(done) / static_cast<long double>(total);
  return static_cast<float>(base + share * (static_cast<long double>(end) - base));
}

void NoteQuitSignal() {
  quitSignal = 1;
  TBlockPipeline::AbandonAll();
}
bool QuitSignalled() { return quitSignal != 0; }

bool CancelRequested() {
  const bool quit = DrainForCancel();
  return quit || QuitSignalled();
}

void PostProgress(TOknoSostoyaniya* window, float position, float base) {
  if (window == nullptr) return;
  uint32_t positionBits, baseBits;
  static_assert(sizeof(float) == 4, "progress values travel as 32-bit float bit patterns");
  std::memcpy(&positionBits, &position, 4);
  std::memcpy(&baseBits, &base, 4);
  PostMessageA(window->window, WM_PROGRESS_UPDATE, WPARAM(positionBits), LPARAM(baseBits));
  PumpProgressMessages(window);
}


void PostEntryProgress(TOknoSostoyaniya* window, uint32_t number, uint32_t total, const TWideName& name) {
  if (window == nullptr) return;
  char counts[32];
  std::snprintf(counts, sizeof counts, "%u/%u ", number, total);
  TWideName status;
  for (const char* c = counts; *c != 0; ++c) status.push_back(WCHAR(*c));
  status += VisibleName(name.data(), uint32_t(name.size()));
  SetProgressStatus(window, status.c_str());
}

float ShareOf(uint32_t done, uint32_t total) {
  if (total == 0 || done >= total) return 1.0f;
  return static_cast<float>(double(done) / double(total));
}
