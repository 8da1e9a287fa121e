// Zero-terminated string primitives: lengths, a bounded byte search and a byte-set count.
#pragma once
#include <cstdint>

#include "platform/win32.h"

uint32_t StrLength(const char* s);
uint32_t WStrLength(const WCHAR* s);
// First of the n bytes at p equal to value (0 bytes do not stop the search); null if none.
const uint8_t* FindByte(const void* p, uint8_t value, uint32_t n);
// Positions among the n data bytes whose value occurs among the m set bytes.
uint32_t CountBytesInSet(const void* data, const void* set, uint32_t n, uint32_t m);

void OperaciisostrokamiStartup();
void OperaciisostrokamiShutdown();
