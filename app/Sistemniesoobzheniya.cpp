// The system-error display: the text of the thread's last error in the message window.
#include "app/Sistemniesoobzheniya.h"

#include "platform/win32.h"
#include "ui/Toknosoobzheniy.h"

namespace {
int startupCounter = 1;
}

bool ShowSystemError() {
  WCHAR* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, GetLastError(),
                           0x400, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  if (text == nullptr) return true;
  while (n > 0 && text[n - 1] == 0x0A) --n;
  while (n > 0 && text[n - 1] == 0x0D) --n;
  if (n > 0) {
    text[n] = 0;
    ShowNoticeW(text, WIDE_TEXT("Системное сообщение"));
  }
  // Given back also when nothing was left to show.
  LocalFree(text);
  return true;
}

void SistemniesoobzheniyaStartup() { --startupCounter; }
void SistemniesoobzheniyaShutdown() { ++startupCounter; }
