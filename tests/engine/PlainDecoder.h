// A plain decoder of one block, for the tests and the differential fuzz target.
#pragma once
#include <cstdint>
#include <vector>

// Restores the block src[0 .. srcLen) into out with at most `capacity` bytes; false (out then
// means nothing) when a reader must refuse it.
bool PlainDecompress(const uint8_t* src, uint32_t srcLen, uint32_t capacity, std::vector<uint8_t>& out);
