// Proving entries from their headers and first blocks, following their block lengths, and the
// byte-by-byte search after a break (the rules are in the header).
#include "app/ArchiveRecovery.h"

#include <algorithm>

#include "app/Names.h"
#include "app/Run.h"
#include "app/RunControl.h"
#include "engine/BlockCheck.h"
#include "engine/Compression.h"
#include "foundation/Memdiag.h"

namespace {

// The search reads the archive in pieces of this many bytes, and the bytes of a longest header
// after the piece, so that the cheap fields of every offset in it are in memory.
const uint32_t kScanBytes = 1u << 20;
const uint32_t kScanLookahead = uint32_t(EntryHeaderSize(kEntryNameLimit));

// The smallest checked block: the stored form of nothing and its trailer.
const uint32_t kSmallestCheckedBlock = kStoredHeaderBytes + kBlockTrailerBytes;

// The cheap test of an offset, on the `available` bytes from p: a nextEntryOffset below 2^48
// and not 0, a name of 1 to 999 units without a control character and with its terminator, and
// the reserved byte 1. What lies past the available bytes is left to the proof.
bool MayStartEntry(const uint8_t* p, uint32_t available) {
  if ((p[6] | p[7]) != 0 || Load64(p) == 0 || (p[8] | p[9]) == 0) return false;
  for (uint32_t at = 8; at + 2 <= available && at < 8 + 2 * (kEntryNameLimit + 1); at += 2) {
    const uint32_t unit = p[at] | p[at + 1] << 8;
    if (unit == 0) return at + 2 >= available || p[at + 2] == kCheckedEntry;
    if (unit < 0x20) return false;
  }
  return available < kScanLookahead;
}

}  // namespace

TChainRecovery::TChainRecovery(TArchiveReader& archive)
    : archive_(archive), proofBytesLeft_(2 * archive.Size() + (1ull << 30)), stepsLeft_(archive.Size() / 16 + (1u << 20)) {
  Create(candidate_, 1);
  Create(probe_, 1);
}

TChainRecovery::~TChainRecovery() {
  for (void* p : {static_cast<void*>(candidate_), static_cast<void*>(probe_), static_cast<void*>(scan_),
                  static_cast<void*>(payload_), static_cast<void*>(output_)})
    if (p != nullptr) Free(p);
}

bool TChainRecovery::Reserve(uint8_t*& buffer, uint32_t& capacity, uint32_t wanted) {
  if (buffer != nullptr && capacity >= wanted) return true;
  if (buffer != nullptr) Free(buffer);
  buffer = nullptr;
  capacity = 0;
  Create(buffer, std::max<uint32_t>(wanted, 64u << 10));
  if (buffer != nullptr) capacity = std::max<uint32_t>(wanted, 64u << 10);
  return buffer != nullptr;
}

bool TChainRecovery::Step() {
  if (stepsLeft_ == 0) exhausted_ = true;
  if (exhausted_) return false;
  --stepsLeft_;
  return true;
}

bool TChainRecovery::Proven(uint64_t at, TEntryHeader& header, bool offsetRead) {
  if (!ParseEntryHeader(archive_, at, header)) return false;
  const uint32_t units = header.nameUnits;
  const bool offsetPlausible = header.nextEntryOffset != 0 && (header.nextEntryOffset >> 48) == 0;
  if (units == 0 || header.reserved != kCheckedEntry || (offsetRead && !offsetPlausible) ||
      (header.lastWriteTime >> 63) != 0)
    return false;
  for (uint32_t i = 0; i < units; ++i)
    if (header.name[i] < 0x20) return false;
  if (!IsRestorableName(header.name, units)) return false;
  uint8_t field[4];
  if (units == kEntryNameLimit) {  // the longest name still needs its terminator
    archive_.Seek(header.firstBlock - 11);
    if (!archive_.Read(field, 2) || (field[0] | field[1]) != 0) return false;
  }
  // The first block: a length a checked block can have, a trailer that declares a chunk a window
  // holds, and the decode and check with this header's seed.
  archive_.Seek(header.firstBlock);
  if (!archive_.Read(field, 4)) return false;
  const uint32_t length = Load32(field);
  if (length < kSmallestCheckedBlock || length > AcceptedBlockLength(kLargestWindow) ||
      length > archive_.Size() - archive_.Position() || !Reserve(payload_, payloadCapacity_, length) ||
      !archive_.Read(payload_, length))
    return false;
  uint32_t declared = 0;
  TrailerChunkLength(payload_, length, declared);
  const uint32_t prePass = IsStoredForm(payload_, length) ? 0 : Load32(payload_);
  const uint32_t capacity = std::max(declared, prePass);
  if (declared > kLargestWindow || prePass > 2 * kLargestWindow) return false;
  if (uint64_t(length) + capacity > proofBytesLeft_) exhausted_ = true;
  if (exhausted_ || !Reserve(output_, outputCapacity_, capacity)) return false;
  proofBytesLeft_ -= uint64_t(length) + capacity;
  uint32_t restored = capacity;
  const uint64_t seed = EntryCheckSeed(header.name, units, header.reserved, header.lastWriteTime);
  const bool whole = DecompressCheckedBlock(output_, restored, payload_, length, seed) == BlockWhole;
  archive_.Seek(header.firstBlock);
  return whole;
}

TChainRecovery::TExtent TChainRecovery::Extent(const TEntryHeader& header, uint64_t expected, uint64_t& end) {
  const uint64_t size = archive_.Size();
  for (uint64_t at = header.firstBlock;;) {
    if (at != header.firstBlock && (at == expected || at == size || Proven(at, *probe_))) {
      end = at;
      return ExtentEnds;
    }
    if (!Step()) return ExtentBroken;
    uint8_t field[4];
    archive_.Seek(at);
    if (size - at < 4 || !archive_.Read(field, 4)) {
      end = size;
      return ExtentCut;
    }
    const uint32_t length = Load32(field);
    if (length < kSmallestCheckedBlock || length > AcceptedBlockLength(kLargestWindow)) return ExtentBroken;
    if (length > size - at - 4) {
      end = size;
      return ExtentCut;
    }
    at += 4 + uint64_t(length);
  }
}

bool TChainRecovery::ChainRunsToEnd(uint64_t from, int64_t shift) {
  uint64_t at = from;
  while (at < archive_.Size()) {
    if (!Step() || !ReadEntryHeader(archive_, at, *probe_, shift)) return false;
    at = probe_->nextEntryOffset;
  }
  return at == archive_.Size();
}

bool TChainRecovery::Mend(uint64_t at, TEntryHeader& header) {
  if (!Proven(at, header, false)) return false;
  uint64_t end = 0;
  const TExtent extent = Extent(header, header.nextEntryOffset + uint64_t(shift_), end);
  if (extent == ExtentBroken) return false;
  header.nextEntryOffset = end;
  header.cut = extent == ExtentCut;
  archive_.Seek(header.firstBlock);
  return true;
}

bool TChainRecovery::Agrees(uint64_t at) {
  if (!Proven(at, *candidate_)) return false;
  const uint64_t stored = candidate_->nextEntryOffset;
  const uint64_t expected = stored + uint64_t(shift_);
  uint64_t end = 0;
  switch (Extent(*candidate_, expected, end)) {
    case ExtentEnds: {
      if (end == expected) return true;
      const int64_t shift = int64_t(end - stored);
      if (end != archive_.Size() && !ChainRunsToEnd(end, shift)) return false;
      shift_ = shift;
      return true;
    }
    case ExtentCut: return expected > archive_.Size();
    default: return false;
  }
}

TChainRecovery::TFind TChainRecovery::Find(uint64_t from, uint64_t& found) {
  const uint64_t size = archive_.Size();
  if (scan_ == nullptr) Create(scan_, kScanBytes + kScanLookahead);
  if (scan_ == nullptr || candidate_ == nullptr || probe_ == nullptr) return NotFound;
  // The smallest entry: an offset, a name of one unit and its terminator, the reserved byte, the
  // time, and one block length.
  const uint64_t smallestEntry = EntryHeaderSize(1) + 4;
  for (uint64_t piece = from; piece + smallestEntry <= size; piece += kScanBytes) {
    if (QuitSignalled()) return Stopped;
    if (exhausted_) return Exhausted;
    const uint32_t length = uint32_t(std::min<uint64_t>(kScanBytes + kScanLookahead, size - piece));
    archive_.Seek(piece);
    if (!archive_.Read(scan_, length)) return NotFound;
    const uint32_t offsets = std::min<uint32_t>(kScanBytes, length - 16);
    for (uint32_t i = 0; i < offsets; ++i) {
      if (MayStartEntry(scan_ + i, length - i) && Agrees(piece + i)) {
        found = piece + i;
        return Found;
      }
    }
  }
  return exhausted_ ? Exhausted : NotFound;
}
