// The compressed file's container: entry headers, block records, the chain's admission rules and
// the reader the restore walks it with. docs/format.md is the format itself (fields, trailers,
// worked examples); this unit only reads and writes it.
//
// The chain is trusted only as far as it stays consistent: an entry is used when its
// nextEntryOffset is not 0, lies within the file, and does not point before the end of the entry's
// own header (which rules out offsets that do not move forward). Where an entry breaks this, the
// walk finds the chain again from the check values (app/ArchiveRecovery.h).
#pragma once
#include <cstdint>

#include "foundation/LittleEndian.h"
#include "platform/win32.h"

// The reserved byte of an entry whose blocks carry trailers.
constexpr uint8_t kCheckedEntry = 1;

// A reader takes at most this many UTF-16 units of a name; writers never store a longer one.
constexpr uint32_t kEntryNameLimit = 999;

// Bytes of an entry's header for a name of n units: 8 + 2 (n + 1) + 1 + 8.
constexpr uint64_t EntryHeaderSize(uint32_t nameUnits) { return 17 + 2 * (uint64_t(nameUnits) + 1); }

// A stored time (100 ns units since 1601) as the system's FILETIME.
inline FILETIME FileTimeOf(uint64_t time) {
  FILETIME t;
  t.dwLowDateTime = static_cast<DWORD>(time);
  t.dwHighDateTime = static_cast<DWORD>(time >> 32);
  return t;
}

// 64-bit positions over SetFilePointer / GetFileSize. False (or the error value) on failure.
bool SeekTo(HANDLE file, uint64_t position);
bool CurrentPosition(HANDLE file, uint64_t& position);
bool FileSize64(HANDLE file, uint64_t& size);
// Read or write exactly `count` bytes; a short transfer is a failure.
bool ReadExact(HANDLE file, void* buffer, uint32_t count);
bool WriteExact(HANDLE file, const void* buffer, uint32_t count);

// The archive read through a buffer: entry headers, block lengths and small payloads come out of
// memory, so a small entry costs the archive no system call of its own. The buffer is refilled
// from the position asked for: with 1 MiB while reads go on where the last one ended, with 64 KiB
// after a jump (the walk that counts entries skips over large ones); a read larger than the buffer
// goes to the file directly. Positions are absolute; callers leave the file's own position alone.
class TArchiveReader {
 public:
  // Reads `file`, which stays the caller's; Size() is 0 and every read fails when its size
  // cannot be had.
  explicit TArchiveReader(HANDLE file);
  ~TArchiveReader();
  TArchiveReader(const TArchiveReader&) = delete;
  TArchiveReader& operator=(const TArchiveReader&) = delete;

  HANDLE File() const { return file_; }
  uint64_t Size() const { return size_; }
  uint64_t Position() const { return position_; }
  void Seek(uint64_t position) { position_ = position; }
  // Exactly `count` bytes from the position on, which moves past them; false (last error
  // ERROR_HANDLE_EOF or the read's) when the file ends first or a read fails.
  bool Read(void* out, uint32_t count);

 private:
  bool Fill(uint64_t from, uint32_t wanted);

  HANDLE file_;
  uint64_t size_ = 0;
  uint64_t position_ = 0;
  uint8_t* buffer_ = nullptr;
  uint64_t bufferStart_ = 0;
  uint32_t bufferLength_ = 0;
};

// Writing one entry at the file's current position: the header of a checked entry with a zero
// placeholder for nextEntryOffset (its offset goes to entryStart), then the blocks, then the
// back-patch, which leaves the position at the entry's end. An entry whose back-patch never
// happened keeps 0 there.
bool WriteEntryHeader(HANDLE archive, const WCHAR* name, uint32_t nameUnits, uint64_t lastWriteTime,
                      uint64_t& entryStart);
bool WriteEntryBlock(HANDLE archive, const uint8_t* payload, uint32_t length);
bool FinishEntry(HANDLE archive, uint64_t entryStart);

struct TEntryHeader {
  uint64_t start;            // offset of the entry
  uint64_t nextEntryOffset;  // where the next entry starts: as stored, moved by the walk's shift
                             // (bytes lost or inserted before it), or what the blocks say
  WCHAR name[kEntryNameLimit + 1];
  uint32_t nameUnits;        // units before the first 0 unit, at most kEntryNameLimit
  uint8_t reserved;
  uint64_t lastWriteTime;
  uint64_t firstBlock;       // offset just past the header
  bool checked;              // its blocks carry trailers (see WrittenChecked)
  bool cut;                  // the file ends inside its blocks: nextEntryOffset is the file's end
};

// The seed of block 0 of an entry with this header; block k has seed + k.
uint64_t EntryCheckSeed(const WCHAR* name, uint32_t nameUnits, uint8_t reserved, uint64_t lastWriteTime);

// Reads the header of the entry at `start` and tells whether the chain admits it, taking its
// nextEntryOffset as stored + shift. The reader is left at the entry's first block.
bool ReadEntryHeader(TArchiveReader& archive, uint64_t start, TEntryHeader& header, int64_t shift = 0);
// Reads every field of the header at `start` without asking the chain (nextEntryOffset as stored);
// false only when the file ends before the header's last byte. The reader is left at its first block.
bool ParseEntryHeader(TArchiveReader& archive, uint64_t start, TEntryHeader& header);

// Whether the entry was written with trailers, which is what its reserved byte says, 1, unless
// the byte was changed: an entry marked 0 whose first block carries bytes after the block's last
// section was written checked (the format's writers leave nothing there), and is checked as such.
// The first block is looked at when it is at most readLimit bytes; the file is left at the entry's
// first block. Only for a reserved byte of 0 or 1: any other value is damage.
bool WrittenChecked(TArchiveReader& archive, const TEntryHeader& header, uint32_t readLimit);

// The bytes a checked entry restores to, from its blocks' trailers; false when its blocks do not
// chain up to its end or one is too short for a trailer.
bool DeclaredEntrySize(TArchiveReader& archive, const TEntryHeader& header, uint64_t& size);

// Number of entries that the chain admits, walking from offset 0; the position is left at 0.
uint32_t CountEntries(TArchiveReader& archive);
// Whether the chain holds `entries` entries and its last one ends exactly at the end of the file:
// what a compress reads back of the archive it wrote (headers only) before it reports success.
bool ChainIsWhole(TArchiveReader& archive, uint32_t entries);

// Largest payload length a restoring run with this block size accepts: 2 x blockSize, or
// blockSize + 8 (a stored full block) when that is larger, so tiny windows restore their own files.
uint32_t AcceptedBlockLength(int32_t blockSize);

// Whether a restoring run with this window holds a checked block: its payload of `length` bytes
// is read whole, the chunk its trailer declares fits the output (twice the window), and in the
// compressed form the pre-pass it rebuilds does too, and the block (without its trailer) is no
// longer than the window, since the engine writes the output while it still reads the input.
bool WindowHoldsBlock(uint32_t window, uint32_t length, uint32_t declared, bool compressedForm, uint32_t prePass);
// The smallest window that holds such a block, and never less than the chunk it declares: a stored
// chunk of the largest window, 16 bytes longer as a payload, needs that window and no more.
uint32_t WindowForBlock(uint32_t length, uint32_t declared, bool compressedForm, uint32_t prePass);
