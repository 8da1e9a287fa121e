// Helpers shared by the engine tests: corpus files, block round trips, generated data.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/Kodirovaniechisel.h"

#include "tests/TestMain.h"

// The corpus folder's files (tests/data), in name order.
std::vector<std::string> CorpusFiles();

// Compresses one block with the production compressor into a buffer of the documented bound.
std::vector<uint8_t> Compress(const std::vector<uint8_t>& block, bool compression = true);
std::vector<uint8_t> Compress(const uint8_t* data, uint32_t n, bool compression = true);
// Restores one block with the given capacity; false when the decoder refuses it.
bool Decompress(const std::vector<uint8_t>& block, uint32_t capacity, std::vector<uint8_t>& out);
std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed, uint32_t alphabet = 256);

// The word of value as a string of '0' and '1', in stream order: in the delta code, in a code.
std::string DeltaWord(uint64_t value);
std::string CodeWord(const TNumberCode& code, uint64_t value);
// A bit string packed the way a block's sections hold it: bit j is bit j % 8 of byte j / 8.
std::vector<uint8_t> PackedBits(const std::string& bits);
// A compressed-form block: header S and N (the number of flags), the flags in plain form (tag 0),
// or in run form (tag 1) when runBits is given, tag 2 and the literals, tag 3 and the match
// section: matchBits when given, else the count and the (distance, length) pairs.
std::vector<uint8_t> CraftedBlock(uint32_t S, const std::string& flags, const std::vector<uint8_t>& literals,
                                  const std::vector<std::pair<uint32_t, uint32_t>>& pairs,
                                  const std::string& runBits = "", const std::string* matchBits = nullptr);
