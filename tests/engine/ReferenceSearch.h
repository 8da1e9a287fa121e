// A step-by-step rendering of the block compressor's match search, kept deliberately plain: the
// production finder must give exactly the tokens this one gives.
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

// The production finder's tokens for the same input, in a work area of the compressor's size
// obtained the way the compressor obtains it; false when the finder fails.
bool FinderSearch(const uint8_t* s, uint32_t S, SReferenceTokens& tokens);
