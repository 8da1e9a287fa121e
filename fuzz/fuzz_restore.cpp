// Restores arbitrary bytes as a whole compressed file (the chain of entries, their headers and
// names, their blocks) with the program's own restore, in a scratch folder that it must never
// write beside. Every input ends, nothing is written outside the folder, and no name the restore
// made leaves it.
#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/CompressEntry.h"
#include "app/Reports.h"
#include "app/RestoreEntry.h"
#include "app/RunControl.h"
#include "app/ArchiveWalk.h"
#include "app/Run.h"
#include "foundation/Units.h"
#include "foundation/Tstring.h"

namespace {

std::string outer;  // holds only the scratch folder "box"

int RemoveItem(const char* path, const struct stat*, int, struct FTW*) { return std::remove(path); }

uint32_t ItemsIn(const std::string& folder) {
  uint32_t count = 0;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) count += e->d_name[0] != '.' || (e->d_name[1] != 0 && e->d_name[1] != '.');
    closedir(d);
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/dev/shm/velmora-fuzz-XXXXXX";
  if (mkdtemp(pattern) == nullptr) __builtin_trap();
  outer = pattern;
  // The scratch folder lives in memory: it goes when the run ends.
  std::atexit([] { nftw(outer.c_str(), RemoveItem, 16, FTW_DEPTH | FTW_PHYS); });
  unsetenv("DISPLAY");
  StartUnits<kAppLayer>();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  const std::string box = outer + "/box";
  nftw(box.c_str(), RemoveItem, 16, FTW_DEPTH | FTW_PHYS);
  if (mkdir(box.c_str(), 0700) != 0 || chdir(box.c_str()) != 0) __builtin_trap();
  FILE* archive = std::fopen("x.pck", "wb");
  if (archive == nullptr) __builtin_trap();
  std::fwrite(data, 1, size, archive);
  std::fclose(archive);
  // A small window, so that many blocks and their limits are reached; a run of its own each time.
  TRun run;
  run.askBeforeOverwrite = false;
  if (!run.AllocateBlockBuffer(1024, BlockRestore)) __builtin_trap();
  TArchiveUse use;
  RestoreArchive(run, WIDE_TEXT("x.pck"), nullptr, use);
  if (ItemsIn(outer) != 1) __builtin_trap();  // something was written beside the box
  return 0;
}
