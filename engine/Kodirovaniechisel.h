// Self-delimiting codes for 64-bit integers over bit buffers (one bit per byte), and packing of
// such buffers into bytes.
#pragma once
#include <cstdint>

#include "engine/DeltaCode.h"
#include "engine/Matematicheskieoperacii.h"

void KodirovaniechiselStartup();
void KodirovaniechiselShutdown();

// A family of codes, chosen by the caller and handed to every call (the codes keep no state):
//   prefixWidth 0: delta code (signed delta code when isSigned);
//   prefixWidth 1..32: fixed-prefix code with a length field of that many bits (signed variant
//   when isSigned).
// Values travel as 64-bit patterns; the signed families read and return them as int64_t.
struct TNumberCode {
  uint32_t prefixWidth = 0;
  bool isSigned = false;
};
// Sets code to a family; a width above 32 is not supported: false, and code stays as it was.
bool SelectNumberCode(TNumberCode& code, uint32_t prefixWidth, bool isSigned);

// Bits the code needs for value; 0 when it cannot be written in it.
uint32_t NumberCodeLength(const TNumberCode& code, uint64_t value);
// Writes the code word at bits[0..); returns its length, or 0 (nothing written) when the value
// cannot be written or capacity is below the length.
uint32_t EncodeNumber(const TNumberCode& code, uint8_t* bits, uint32_t capacity, uint64_t value);
// Reads one code word from bits[0 .. available); returns the bits consumed, or 0 (value left
// unchanged) when no whole code word is there. Length fields beyond 65 (64 for signed codes)
// are reported as undecodable.
uint32_t DecodeNumber(const TNumberCode& code, const uint8_t* bits, uint32_t available, uint64_t& value);

// In-place conversions between one bit per byte and eight bits per byte; bit j of the bit
// buffer is bit j mod 8 of byte j div 8.
bool PackBits(uint8_t* buffer, uint32_t capacity, uint32_t& count);
bool UnpackBits(uint8_t* buffer, uint32_t capacity, uint32_t& count);


