// Reading and writing the container: entry headers (one read, one write each), block records and
// the back-patch of nextEntryOffset, the chain's admission rules, and the 64-bit file positions
// they rest on. The format itself is docs/format.md.
#include "app/ArchiveFormat.h"

#include <algorithm>
#include <cstring>

#include "engine/BlockCheck.h"
#include "engine/Compression.h"
#include "foundation/Memdiag.h"

bool SeekTo(HANDLE file, uint64_t position) {
  LONG high = static_cast<LONG>(position >> 32);
  SetLastError(ERROR_SUCCESS);
  const DWORD low = SetFilePointer(file, static_cast<LONG>(static_cast<uint32_t>(position)), &high, FILE_BEGIN);
  return !(low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS);
}

bool CurrentPosition(HANDLE file, uint64_t& position) {
  LONG high = 0;
  SetLastError(ERROR_SUCCESS);
  const DWORD low = SetFilePointer(file, 0, &high, FILE_CURRENT);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) return false;
  position = uint64_t(static_cast<uint32_t>(high)) << 32 | low;
  return true;
}

bool FileSize64(HANDLE file, uint64_t& size) {
  DWORD high = 0;
  SetLastError(ERROR_SUCCESS);
  const DWORD low = GetFileSize(file, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) return false;
  size = uint64_t(high) << 32 | low;
  return true;
}

bool ReadExact(HANDLE file, void* buffer, uint32_t count) {
  DWORD got = 0;
  if (!ReadFile(file, buffer, count, &got, nullptr)) return false;
  if (got != count) {
    SetLastError(ERROR_HANDLE_EOF);
    return false;
  }
  return true;
}

bool WriteExact(HANDLE file, const void* buffer, uint32_t count) {
  DWORD put = 0;
  if (!WriteFile(file, buffer, count, &put, nullptr)) return false;
  if (put != count) {
    SetLastError(ERROR_DISK_FULL);
    return false;
  }
  return true;
}

namespace {

// The header from the name's first byte to the time's last byte, as stored; returns its length.
uint32_t CheckedHeaderBytes(const WCHAR* name, uint32_t nameUnits, uint8_t reserved, uint64_t lastWriteTime,
                            uint8_t* out) {
  uint32_t at = 0;
  for (uint32_t i = 0; i < nameUnits; ++i, at += 2) {
    out[at] = uint8_t(name[i]);
    out[at + 1] = uint8_t(name[i] >> 8);
  }
  out[at++] = 0;
  out[at++] = 0;
  out[at++] = reserved;
  Store64(out + at, lastWriteTime);
  return at + 8;
}

}  // namespace

bool WriteEntryHeader(HANDLE archive, const WCHAR* name, uint32_t nameUnits, uint64_t lastWriteTime,
                      uint64_t& entryStart) {
  if (nameUnits > kEntryNameLimit) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  if (!CurrentPosition(archive, entryStart)) return false;
  // One write for the whole header: placeholder, name with terminator, reserved byte, time.
  uint8_t header[EntryHeaderSize(kEntryNameLimit)];
  Store64(header, 0);
  const uint32_t length = 8 + CheckedHeaderBytes(name, nameUnits, kCheckedEntry, lastWriteTime, header + 8);
  return WriteExact(archive, header, length);
}

uint64_t EntryCheckSeed(const WCHAR* name, uint32_t nameUnits, uint8_t reserved, uint64_t lastWriteTime) {
  uint8_t bytes[EntryHeaderSize(kEntryNameLimit)];
  return CheckSeedOf(bytes, CheckedHeaderBytes(name, nameUnits, reserved, lastWriteTime, bytes));
}

bool WriteEntryBlock(HANDLE archive, const uint8_t* payload, uint32_t length) {
  uint8_t field[4];
  Store32(field, length);
  return WriteExact(archive, field, 4) && WriteExact(archive, payload, length);
}

bool FinishEntry(HANDLE archive, uint64_t entryStart) {
  uint64_t end = 0;
  if (!CurrentPosition(archive, end)) return false;
  uint8_t field[8];
  Store64(field, end);
  return SeekTo(archive, entryStart) && WriteExact(archive, field, 8) && SeekTo(archive, end);
}

namespace {

const uint32_t kReaderBytes = 1u << 20;
const uint32_t kReaderJumpBytes = 64u << 10;

}  // namespace

TArchiveReader::TArchiveReader(HANDLE file) : file_(file) {
  if (!FileSize64(file, size_)) size_ = 0;
  Create(buffer_, kReaderBytes);
}

TArchiveReader::~TArchiveReader() {
  if (buffer_ != nullptr) Free(buffer_);
}

bool TArchiveReader::Fill(uint64_t from, uint32_t wanted) {
  const bool onward = from == bufferStart_ + bufferLength_;
  uint64_t length = std::max<uint64_t>(wanted, onward ? kReaderBytes : kReaderJumpBytes);
  length = std::min<uint64_t>({length, kReaderBytes, size_ - from});
  bufferStart_ = from;
  bufferLength_ = 0;
  if (!SeekTo(file_, from) || !ReadExact(file_, buffer_, uint32_t(length))) return false;
  bufferLength_ = uint32_t(length);
  return true;
}

bool TArchiveReader::Read(void* out, uint32_t count) {
  if (position_ > size_ || size_ - position_ < count) {
    SetLastError(ERROR_HANDLE_EOF);
    return false;
  }
  uint8_t* to = static_cast<uint8_t*>(out);
  const bool buffered = position_ >= bufferStart_ && position_ + count <= bufferStart_ + bufferLength_;
  if (!buffered) {
    if (buffer_ == nullptr || count > kReaderBytes / 2) {
      if (!SeekTo(file_, position_) || !ReadExact(file_, to, count)) return false;
      position_ += count;
      return true;
    }
    if (!Fill(position_, count)) return false;
  }
  std::memcpy(to, buffer_ + (position_ - bufferStart_), count);
  position_ += count;
  return true;
}

bool ParseEntryHeader(TArchiveReader& archive, uint64_t start, TEntryHeader& header) {
  const uint64_t fileSize = archive.Size();
  header.start = start;
  header.nextEntryOffset = 0;
  header.nameUnits = 0;
  header.reserved = 0;
  header.checked = false;
  header.cut = false;
  header.lastWriteTime = 0;
  header.name[0] = 0;
  header.firstBlock = start + EntryHeaderSize(0);
  if (start >= fileSize) return false;

  // The largest header there can be: the offset, a window of up to 1000 name units, the reserved
  // byte and the time; near the end of the file, what there is.
  uint8_t raw[EntryHeaderSize(kEntryNameLimit)] = {};
  const uint32_t got = uint32_t(std::min<uint64_t>(sizeof raw, fileSize - start));
  archive.Seek(start);
  if (got < 8 || !archive.Read(raw, got)) return false;
  header.nextEntryOffset = Load64(raw);
  uint32_t n = 0;
  while (n < kEntryNameLimit && 8 + 2 * n + 1 < got && (raw[8 + 2 * n] | raw[8 + 2 * n + 1]) != 0) {
    header.name[n] = WCHAR(raw[8 + 2 * n] | raw[8 + 2 * n + 1] << 8);
    ++n;
  }
  header.name[n] = 0;
  header.nameUnits = n;
  header.firstBlock = start + EntryHeaderSize(n);
  const uint32_t tail = 8 + 2 * (n + 1);
  if (got < tail + 9) return false;
  header.reserved = raw[tail];
  header.lastWriteTime = Load64(raw + tail + 1);
  archive.Seek(header.firstBlock);
  return true;
}

bool ReadEntryHeader(TArchiveReader& archive, uint64_t start, TEntryHeader& header, int64_t shift) {
  const bool parsed = ParseEntryHeader(archive, start, header);
  const uint64_t stored = header.nextEntryOffset;
  const uint64_t next = header.nextEntryOffset = stored + uint64_t(shift);
  return parsed && stored != 0 && next <= archive.Size() && next > start && next >= header.firstBlock;
}

namespace {

// The entries the chain admits from offset 0; `end` is where the last one ends.
uint32_t WalkChain(TArchiveReader& archive, uint64_t& end) {
  uint32_t count = 0;
  TEntryHeader header;
  end = 0;
  while (end < archive.Size() && ReadEntryHeader(archive, end, header)) {
    ++count;
    end = header.nextEntryOffset;
  }
  return count;
}

}  // namespace

uint32_t CountEntries(TArchiveReader& archive) {
  uint64_t end = 0;
  const uint32_t count = WalkChain(archive, end);
  archive.Seek(0);
  return count;
}

bool ChainIsWhole(TArchiveReader& archive, uint32_t entries) {
  uint64_t end = 0;
  return WalkChain(archive, end) == entries && end == archive.Size();
}

uint32_t AcceptedBlockLength(int32_t blockSize) {
  if (blockSize <= 0) return 0;
  const uint64_t twice = 2 * uint64_t(blockSize);
  const uint64_t stored = uint64_t(blockSize) + 8;
  const uint64_t limit = twice > stored ? twice : stored;
  return limit > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(limit);
}

bool WindowHoldsBlock(uint32_t window, uint32_t length, uint32_t declared, bool compressedForm, uint32_t prePass) {
  const uint64_t output = 2 * uint64_t(window);
  return length <= AcceptedBlockLength(int32_t(window)) && declared <= output && prePass <= output &&
         !(compressedForm && length - kBlockTrailerBytes > window);
}

uint32_t WindowForBlock(uint32_t length, uint32_t declared, bool compressedForm, uint32_t prePass) {
  const uint32_t payloadBound = compressedForm ? length - kBlockTrailerBytes : length / 2 + length % 2;
  return std::max({declared, payloadBound, prePass / 2 + prePass % 2});
}

bool DeclaredEntrySize(TArchiveReader& archive, const TEntryHeader& header, uint64_t& size) {
  size = 0;
  for (uint64_t at = header.firstBlock; at < header.nextEntryOffset;) {
    uint8_t field[4];
    archive.Seek(at);
    if (header.nextEntryOffset - at < 4 || !archive.Read(field, 4)) return false;
    const uint32_t length = Load32(field);
    if (length < kBlockTrailerBytes || length > header.nextEntryOffset - at - 4) return false;
    archive.Seek(at + 4 + length - kBlockTrailerBytes);
    if (!archive.Read(field, 4)) return false;
    size += Load32(field);
    at += 4 + uint64_t(length);
  }
  return true;
}

bool WrittenChecked(TArchiveReader& archive, const TEntryHeader& header, uint32_t readLimit) {
  if (header.reserved == kCheckedEntry) return true;
  uint8_t field[4];
  archive.Seek(header.firstBlock);
  if (header.nextEntryOffset - header.firstBlock < 4 || !archive.Read(field, 4)) {
    archive.Seek(header.firstBlock);
    return false;
  }
  const uint32_t length = Load32(field);
  bool trailing = false;
  uint8_t* payload = nullptr;
  if (length >= kBlockTrailerBytes && length <= readLimit && length <= header.nextEntryOffset - header.firstBlock - 4)
    Create(payload, length);
  if (payload != nullptr) {
    if (archive.Read(payload, length)) {
      const uint32_t body = BlockBodyLength(payload, length);
      trailing = body != 0 && body < length;
    }
    Free(payload);
  }
  archive.Seek(header.firstBlock);
  return trailing;
}
