// Decoder A/B, in one process: the block decoder of this tree against a baseline decoder taken
// from another revision (bench/decoder_ab.sh compiles that revision's decoder and pre-pass undo
// under Baseline_ names). Each input is cut into blocks and compressed once; then, run after run,
// both decoders restore every block, taking turns at going first. Every restored block must equal
// its source. Reports per input the median thread CPU time of each decoder, its speed and the
// ratio, and a check value of the restored bytes (FNV-1a over every block, the same for both).
//   decoder_ab [-r=runs] [--only=ours|base] input...
// --only runs one decoder alone (for a profile of it); the other's columns then show 0.
// An input is file[:window] (the file cut into blocks of the window, default 2 MiB) or
// folder/ (every file under it, recursively, cut into blocks of 2 MiB: one block per small file,
// as the program makes them).
#include <dirent.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BenchTiming.h"
#include "engine/Compression.h"
#include "engine/Kodirovaniechisel.h"
#include "engine/Matematicheskieoperacii.h"
#include "foundation/Memdiag.h"
#include "foundation/Operaciisostrokami.h"
#include "foundation/Operaciispamyatyu.h"

bool Baseline_DecompressBlock(uint8_t* dst, uint32_t& dstLen, const uint8_t* src, uint32_t srcLen);

namespace {

typedef std::vector<uint8_t> Bytes;

struct SInput {
  std::string name;
  std::vector<Bytes> sources, blocks;
  uint64_t bytes = 0;
  uint32_t largest = 0;
};

double ThreadSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

Bytes ReadFile(const std::string& path) {
  Bytes d;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t buf[1 << 16];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) d.insert(d.end(), buf, buf + got);
    std::fclose(f);
  }
  return d;
}

void ListTree(const std::string& folder, std::vector<std::string>& files) {
  DIR* d = opendir(folder.c_str());
  if (d == nullptr) return;
  std::vector<std::string> names;
  while (dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string full = folder + "/" + name;
    struct stat st;
    if (lstat(full.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) ListTree(full, files);
    if (S_ISREG(st.st_mode)) files.push_back(full);
  }
}

void AddBlocks(SInput& input, const Bytes& data, uint32_t window) {
  for (size_t at = 0; at < data.size(); at += window) {
    const uint32_t n = uint32_t(std::min<size_t>(window, data.size() - at));
    input.sources.emplace_back(data.begin() + at, data.begin() + at + n);
    Bytes packed(CompressBoundFor(n));
    uint32_t len = 0;
    if (!CompressBlock(packed.data(), len, data.data() + at, n)) {
      std::fprintf(stderr, "compression failed\n");
      std::exit(2);
    }
    packed.resize(len);
    input.blocks.push_back(packed);
    input.bytes += n;
    input.largest = std::max(input.largest, n);
  }
}

typedef bool (*TDecoder)(uint8_t*, uint32_t&, const uint8_t*, uint32_t);

// Restores every block of the input; the thread CPU seconds it took, or -1 when a block differs.
double DecodeAll(const SInput& input, TDecoder decode, Bytes& out, uint64_t& check) {
  bool same = true;
  check = 14695981039346656037ull;
  const double t0 = ThreadSeconds();
  for (size_t i = 0; i < input.blocks.size(); ++i) {
    uint32_t len = uint32_t(out.size());
    same = decode(out.data(), len, input.blocks[i].data(), uint32_t(input.blocks[i].size())) && same &&
           len == input.sources[i].size();
    if (len > 0) check = (check ^ out[len - 1]) * 1099511628211ull;
  }
  const double seconds = ThreadSeconds() - t0;
  // The full comparison lies outside the timing.
  for (size_t i = 0; i < input.blocks.size() && same; ++i) {
    uint32_t len = uint32_t(out.size());
    decode(out.data(), len, input.blocks[i].data(), uint32_t(input.blocks[i].size()));
    same = std::memcmp(out.data(), input.sources[i].data(), len) == 0;
    for (uint32_t j = 0; j < len; ++j) check = (check ^ out[j]) * 1099511628211ull;
  }
  return same ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 7;
  std::string only;
  std::vector<SInput> inputs;
  OperaciispamyatyuStartup();
  MemdiagStartup();
  OperaciisostrokamiStartup();
  MatematicheskieoperaciiStartup();
  KodirovaniechiselStartup();
  CompressionStartup();
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("-r=", 0) == 0) {
      runs = std::max(1, std::atoi(a.c_str() + 3));
      continue;
    }
    if (a.rfind("--only=", 0) == 0) {
      only = a.substr(7);
      continue;
    }
    SInput input;
    input.name = a;
    uint32_t window = 2097152;
    const size_t colon = a.rfind(':');
    if (colon != std::string::npos) {
      window = uint32_t(std::strtoul(a.c_str() + colon + 1, nullptr, 10));
      a.resize(colon);
    }
    struct stat st;
    if (window == 0 || stat(a.c_str(), &st) != 0) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 2;
    }
    if (S_ISDIR(st.st_mode)) {
      std::vector<std::string> files;
      ListTree(a, files);
      for (const std::string& f : files) AddBlocks(input, ReadFile(f), window);
    } else {
      AddBlocks(input, ReadFile(a), window);
    }
    inputs.push_back(input);
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "usage: decoder_ab [-r=runs] file[:window]|folder ...\n");
    return 2;
  }
  std::printf("%-36s %7s %10s %9s %9s %8s %8s %6s %s\n", "input", "blocks", "bytes", "base ms", "ours ms",
              "base MB/s", "ours MB/s", "ratio", "check");
  bool ok = true;
  for (const SInput& input : inputs) {
    // Room for a pre-pass output longer than the block, as the program gives.
    Bytes out(CompressBoundFor(input.largest) + 64);
    std::vector<double> base, ours;
    uint64_t baseCheck = 0, oursCheck = 0;
    for (int run = 0; run < runs; ++run) {
      for (int turn = 0; turn < 2; ++turn) {
        const bool oursNow = (run + turn) % 2 == 0;
        if (only == (oursNow ? "base" : "ours")) {
          (oursNow ? ours : base).push_back(0);
          continue;
        }
        const double s = DecodeAll(input, oursNow ? DecompressBlock : Baseline_DecompressBlock, out,
                                   oursNow ? oursCheck : baseCheck);
        ok = ok && s >= 0;
        (oursNow ? ours : base).push_back(s);
      }
    }
    const double b = Median(base), o = Median(ours);
    ok = ok && (baseCheck == oursCheck || !only.empty());
    std::printf("%-36s %7zu %10llu %9.1f %9.1f %8.1f %8.1f %6.3f %016llx%s\n", input.name.c_str(),
                input.blocks.size(), (unsigned long long)input.bytes, b * 1e3, o * 1e3, input.bytes / 1e6 / b,
                input.bytes / 1e6 / o, b / o, (unsigned long long)oursCheck,
                ok ? "" : "  RESTORED BYTES DIFFER");
  }
  return ok ? 0 : 1;
}
