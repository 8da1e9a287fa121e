// Helpers shared by the engine tests: corpus files, block round trips, generated data.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

std::vector<std::string> CorpusFiles();
std::vector<uint8_t> ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& data);

// Compresses one block with the production compressor into a buffer of the documented bound.
std::vector<uint8_t> Compress(const std::vector<uint8_t>& block);
std::vector<uint8_t> Compress(const uint8_t* data, uint32_t n);
// Restores one block with the given capacity; false when the decoder refuses it.
bool Decompress(const std::vector<uint8_t>& block, uint32_t capacity, std::vector<uint8_t>& out);
std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed, uint32_t alphabet = 256);
