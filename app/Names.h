// Names as an archive stores them: UTF-16, exactly as the file system lists them, folders
// separated by '\' (a '/' in a stored name separates too). What may be stored, what may be
// restored, and how names are shown and compared.
//
// A name is stored only when every system the archive may be restored on can hold it as it is:
// no control character, none of < > : " | ? * (or a separator inside a component), no unpaired
// surrogate (a name that was not UTF-8 on Linux lists with one), and no name that Windows takes
// for a device or trims. A stored name is restored only when it stays inside the restore's folder
// (relative, no drive or stream colon, no empty, "." or ".." component), has no unpaired surrogate
// and no device or trimmed component; whatever else the system cannot hold it refuses itself.
#pragma once
#include <cstdint>
#include <string>

#include "foundation/Tstring.h"
#include "platform/win32.h"

// Whether Windows would open a device for the component (CON, PRN, AUX, NUL, COM1 to COM9 and
// COM¹ to COM³, LPT1 to LPT9 and LPT¹ to LPT³, CONIN$, CONOUT$, with or without an extension, with
// spaces before it, in any case) or would drop its last
// character (a dot or a space). Such names are neither stored nor restored, on every build, so that
// the Windows program never reaches a device or a file of another name through them.
bool IsDeviceOrTrimmedName(const WCHAR* component, size_t length);
// Why a listed name (one component) cannot be stored, or nullptr when it can.
const char* UnstorableReason(const WCHAR* component);
// Whether a stored name of `units` units may be restored.
bool IsRestorableName(const WCHAR* name, uint32_t units);
// The name's letters as NTFS compares them (platform/Upcase.h), with '/' as '\': for comparisons
// that ignore case.
TWideName FoldedName(const WCHAR* name, size_t length);
