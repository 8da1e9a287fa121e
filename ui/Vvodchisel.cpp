#include "ui/Vvodchisel.h"

#include "ui/Preobrazovaniechisel.h"

const char* NumberInputChars = nullptr;

namespace {
int startupCounter = 1;
}

void VvodchiselStartup() {
  if (--startupCounter != 0) return;
  NumberInputChars = NumberChars;
}

void VvodchiselShutdown() {
  if (++startupCounter != 1) return;
  NumberInputChars = nullptr;
}
