// Raw byte operations: an overlap-safe move and a zero fill, in four-byte words with a byte tail.
#pragma once
#include <cstdint>

uint8_t* MoveBytes(void* destination, const void* source, uint32_t n);
void ZeroBytes(void* p, uint32_t n);

void OperaciispamyatyuStartup();
void OperaciispamyatyuShutdown();
