// The one header through which the program reaches the operating system.
//
// On Windows it is <windows.h> itself. Everywhere else it declares the subset of Win32 that the
// program uses, with Win32's names, widths and failure conventions (a result value plus the
// thread's last error); platform/posix/ implements that subset.
#pragma once

#ifdef _WIN32
#include <windows.h>
// A UTF-16 literal as WCHAR text: wchar_t holds UTF-16 on Windows.
#define WIDE_TEXT(text) L##text
#else
// A UTF-16 literal as WCHAR text: char16_t stands in for Windows' wchar_t.
#define WIDE_TEXT(text) u##text
#include "platform/api/base.h"
#include "platform/api/memory.h"
#include "platform/api/files.h"
#include "platform/api/text.h"
#include "platform/api/user.h"
#include "platform/api/gdi.h"
#endif
