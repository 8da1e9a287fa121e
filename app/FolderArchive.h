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

uint32_t CountFolderFiles(const TWideName& folder);

// 0 when a folder cannot be listed or a file failed (the walk ends at once), else the counter at
// the end (0 for a tree without files).
uint32_t CompressFolder(HANDLE archive, const TWideName& folder, uint32_t& counter, uint32_t& total,
                        TOknoSostoyaniya* window, uint64_t& latestTime);
