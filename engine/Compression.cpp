// The unit Compression: its start-up and shut-down. The block compressor is in BlockWriter.cpp,
// the pre-pass in PrePass.cpp, the decoder in Decoder.cpp, the match finder in MatchFinder.h, the
// block trailer in BlockCheck.cpp. The compression switch travels with each call (SBlockWork and
// CompressBlock): the engine keeps no state between calls.
#include "engine/Compression.h"

void CompressionStartup() {}

void CompressionShutdown() {}
