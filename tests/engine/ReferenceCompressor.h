// A step-by-step rendering of the block compressor, kept deliberately plain: the production
// compressor must give exactly the blocks this one gives.
#pragma once
#include <cstdint>
#include <vector>

// Greedy parse of a pre-pass output, candidate by candidate, in the plainest order.
struct SReferenceTokens {
  std::vector<uint8_t> flags;
  std::vector<uint32_t> distancesMinusOne;
  std::vector<uint32_t> lengthsMinusOne;
};
void ReferenceSearch(const uint8_t* s, uint32_t S, SReferenceTokens& tokens);

// The whole block (pre-pass, search, sections, stored fallback) built with the reference search
// and bit-per-byte code words.
std::vector<uint8_t> ReferenceCompressBlock(const uint8_t* src, uint32_t srcLen);
