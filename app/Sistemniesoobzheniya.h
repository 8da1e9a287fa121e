// Shows the system's text for the thread's last error in the message window.
#pragma once

// Takes the system's text for GetLastError(), drops its trailing line feeds and then its trailing
// carriage returns, and shows it with the caption "Системное сообщение". Shows nothing when the
// system has no text for the code. Always returns true.
bool ShowSystemError();

void SistemniesoobzheniyaStartup();
void SistemniesoobzheniyaShutdown();
