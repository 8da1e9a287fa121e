// File and folder questions for the driver and the jobs, and the creation of the folders a file
// path names. Paths are UTF-16 with the backslash as the folder separator, relative to the
// current directory unless they say otherwise. None of them changes the current directory.
#pragma once

#include "app/Names.h"
#include "foundation/Tstring.h"
#include "platform/win32.h"

// True when path names a folder (a link to one counts).
bool FolderExists(const TWideName& path);

// The folder's absolute name as the system resolves it (links followed), without the "\\?\"
// prefix that long names may carry on Windows; empty when it cannot be opened.
TWideName ResolvedFolderName(const TWideName& folder);

// The folder at path (a handle of platform/Beneath.h), made with the folders above it where it
// is missing (links are followed there: the user named it); "" is the current directory. Null with
// the last error when it can be neither opened nor made.
HANDLE OpenOrMakeFolder(const TWideName& path);

// Whether the folder name `inner` is `folder` or names a folder below it (names compared exactly,
// unit for unit; a caller that ignores case folds both first).
bool IsSameOrBelow(const TWideName& inner, const TWideName& folder);

// True when both open handles name the same file (volume and file index agree).
bool SameFile(HANDLE a, HANDLE b);

// A file as the same-file checks know it: its open handle, the folder that holds it (a handle of
// platform/Beneath.h) and its name there as it was typed or stored.
struct TFilePlace {
  HANDLE file = INVALID_HANDLE_VALUE;
  HANDLE folder = nullptr;
  TWideName leaf;
};
// Whether the existing item `leaf` of `folder`, open as `item` (INVALID_HANDLE_VALUE when it
// cannot be opened), is the file at `place`: the same file by volume and index, or, in the same
// folder, a name equal to the place's by the program's case folding. Either is enough, since on
// a file system that ignores case each spelling of a name may get an index of its own (FAT and
// exFAT through FUSE).
bool IsSamePlace(const TFilePlace& place, HANDLE folder, const WCHAR* leaf, HANDLE item);

// True when an item that is not a folder has the name, whether this process may open it or not:
// a file the run cannot read is still a file a run must not replace unasked. (The run decides
// from the attributes itself, since it also tells folders and devices apart.)
bool IsExistingFile(const TWideName& name);

// Creates, from the outside in, every folder named before the last backslash of a file path
// (the file itself is not created); a drive prefix such as "D:\" is skipped. Stops at the first
// folder that cannot be created and keeps those made before it. With showErrors a failure is
// reported: an unusable name (empty, or nothing after the drive prefix) with a notice, a folder
// that cannot be created with the system's reason. The path itself is not changed.
bool CreateFolderPath(const TWideName& path, bool showErrors);

void OperaciisfaylamiipapkamiStartup();
void OperaciisfaylamiipapkamiShutdown();
