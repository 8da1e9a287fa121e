// Walking a folder tree into one compressed file.
//
// Compression lists each folder with "*.*" and goes depth first in the file system's listing
// order: a subfolder is walked completely where it is met. Every file becomes one entry named
// parent path + file name, so every name begins with the top folder's name; folders get no entry
// of their own. A folder link whose target is a folder already being walked (an ancestor, or the
// folder itself) is not walked again, so a link back into the tree cannot make the walk endless.
#pragma once
#include <cstdint>

#include "app/Names.h"
#include "foundation/Tstring.h"
#include "platform/win32.h"
#include "ui/Toknosostoyaniya.h"

class TRun;

uint32_t CountFolderFiles(const TWideName& folder);

// Where a folder's compress stands, and what it came to.
struct TTreeWalk {
  uint32_t counter = 0;     // files met so far
  uint32_t total = 0;       // files counted beforehand, for the progress
  uint64_t latestTime = 0;  // the newest last-write time of the files stored
  uint32_t leftOut = 0;     // files and folders left out on purpose, each named in a report line
};

// False when a file failed (the walk ends at once; what failed is reported). Files and folders
// that cannot be stored are left out, counted and named, and the walk goes on.
bool CompressFolder(TRun& run, HANDLE archive, const TWideName& folder, TOknoSostoyaniya* window, TTreeWalk& walk);
