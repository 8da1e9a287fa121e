// Finding the chain of entries again where it breaks.
//
// An entry of a checked archive can be proven where it stands, without the chain: its header holds
// a nextEntryOffset below 2^48, a name the restore would take (1 to 999 units, terminated, no
// control character), the reserved byte 1 and a time a FILETIME can hold; and its first block
// decodes to exactly the length its trailer declares, with the check value that the seed of this
// very header gives. Data that is not such an entry passes the cheap fields at about one byte
// offset in 2^41 and then the decode, the length and the 32-bit check value as well at about one in
// 2^32 more.
//
// A proven entry's extent is what its block lengths say: they are followed from its first block to
// the first boundary that is where the chain expects the next entry (the stored offset moved by the
// walk's shift), the end of the file, or another proven entry. A length that runs past the end of
// the file makes it a cut entry; a length no block can have leaves its extent unknown.
//
// Where the chain breaks, the search looks at every byte offset from where the chain was last sound
// for an entry that is proven and whose extent agrees with the chain: its blocks end where its
// stored offset, moved by the shift, says (the damage changed bytes but moved none); or they end at
// the end of the file or where a chain of headers starts that, moved by the new shift, runs exactly
// to the end of the file (bytes were lost or inserted before it: the shift is where its blocks end
// minus what it stores). The second rule keeps out the entries of an archive stored as a file inside
// an entry: they prove themselves too, but their offsets count from that archive's own start and
// their chain ends inside the block that holds it. A cut entry is taken only when its stored offset
// also points past the end of the file.
//
// The search runs only after a break: walking an intact chain costs nothing here. Its work is
// bounded for the whole walk, so that a crafted file cannot make it quadratic: the blocks it
// decodes to prove entries add up to at most twice the archive plus 1 GiB, and the block lengths
// and headers it follows to at most one for every 16 bytes of the archive plus 2^20. Past that
// the search gives up (Exhausted) and the walk ends at the break as it would without it.
#pragma once
#include <cstdint>

#include "app/ArchiveFormat.h"

class TChainRecovery {
 public:
  explicit TChainRecovery(TArchiveReader& archive);
  ~TChainRecovery();
  TChainRecovery(const TChainRecovery&) = delete;
  TChainRecovery& operator=(const TChainRecovery&) = delete;

  // What the stored offsets of the entries from here on are moved by.
  int64_t Shift() const { return shift_; }

  // The entry at `at`, whose offset the chain refused, taken from its blocks when its header and
  // first block prove it (its offset may be anything): nextEntryOffset becomes where its blocks end, or for a cut entry (`cut`)
  // the end of the file. False when it is not proven or its blocks break off.
  bool Mend(uint64_t at, TEntryHeader& header);

  enum TFind { Found, NotFound, Stopped, Exhausted };
  // The first offset from `from` on where an entry is proven and agrees with the chain (the shift
  // is updated to it); Stopped when a quit signal ends the search, Exhausted when its work ran out.
  TFind Find(uint64_t from, uint64_t& found);

 private:
  enum TExtent { ExtentEnds, ExtentCut, ExtentBroken };
  bool Proven(uint64_t at, TEntryHeader& header, bool offsetRead = true);
  TExtent Extent(const TEntryHeader& header, uint64_t expected, uint64_t& end);
  bool ChainRunsToEnd(uint64_t from, int64_t shift);
  bool Agrees(uint64_t at);
  bool Reserve(uint8_t*& buffer, uint32_t& capacity, uint32_t wanted);
  bool Step();

  TArchiveReader& archive_;
  int64_t shift_ = 0;
  uint64_t proofBytesLeft_, stepsLeft_;
  bool exhausted_ = false;
  TEntryHeader* candidate_ = nullptr;  // the entry a search looks at
  TEntryHeader* probe_ = nullptr;      // what lies where a candidate's blocks end
  uint8_t* scan_ = nullptr;
  uint8_t* payload_ = nullptr;
  uint8_t* output_ = nullptr;
  uint32_t payloadCapacity_ = 0, outputCapacity_ = 0;
};
