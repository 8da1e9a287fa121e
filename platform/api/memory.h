// Virtual memory, the machine's memory status and the critical section, as Win32 has them.
#pragma once
#include "platform/api/base.h"

#define MEM_COMMIT 0x00001000u
#define MEM_RESERVE 0x00002000u
#define MEM_DECOMMIT 0x00004000u
#define MEM_RELEASE 0x00008000u
#define PAGE_NOACCESS 0x01u
#define PAGE_READWRITE 0x04u
#ifndef ERROR_INVALID_ADDRESS
#define ERROR_INVALID_ADDRESS 487u
#endif

// Commits (and reserves, when no address is given) zero-filled pages. Null on failure.
LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect);
// MEM_DECOMMIT gives the pages of [address, address + size) back (size 0: the whole reservation
// that starts at address); MEM_RELEASE (size must be 0) gives back the whole reservation.
BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD freeType);

typedef struct _MEMORYSTATUS {
  DWORD dwLength;
  DWORD dwMemoryLoad;
  SIZE_T dwTotalPhys;
  SIZE_T dwAvailPhys;
  SIZE_T dwTotalPageFile;
  SIZE_T dwAvailPageFile;
  SIZE_T dwTotalVirtual;
  SIZE_T dwAvailVirtual;
} MEMORYSTATUS, *LPMEMORYSTATUS;

void GlobalMemoryStatus(LPMEMORYSTATUS status);

// Recursive lock of one process. Its storage is opaque to callers; only the calls below touch it.
typedef struct _CRITICAL_SECTION {
  alignas(8) unsigned char opaque[64];
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

void InitializeCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);
