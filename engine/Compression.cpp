// The unit Compression: the compression switch and its start-up. The block compressor is in
// BlockWriter.cpp, the pre-pass in PrePass.cpp, the decoder in Decoder.cpp, the match finder in
// MatchFinder.h, the block trailer in BlockCheck.cpp.
#include "engine/Compression.h"

#include "foundation/Memdiag.h"

namespace {

bool compressionEnabled = true;

}  // namespace

void CompressionStartup() { compressionEnabled = true; }

void CompressionShutdown() {}

bool SetCompression(bool enabled) {
  TMemoryLock guard;
  compressionEnabled = enabled;
  return true;
}

bool CompressionEnabled() { return compressionEnabled; }
