// Tests of the platform layer: the process's arguments are handed over first, as the entry does.
#include <gtest/gtest.h>
#include "platform/win32.h"

int main(int argc, char** argv) {
  PosixSetArguments(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
