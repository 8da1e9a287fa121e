// Shared by the user-interface tests: the scratch folder the test program runs "from".
#pragma once
#include <string>

// A private temporary folder (POSIX path, no trailing slash). The test program's module is a
// program inside it, so the code-page table file is made there and not in the tree.
const std::string& UiTestFolder();

// Restarts the Kernel unit as if the program file were `programPath` (POSIX path), started by the
// name `startedAs` (the path itself when null) with the given further argument; the code-page
// tables are loaded from or made in the program file's folder.
void RestartKernelAs(const std::string& programPath, const char* argument = nullptr,
                     const char* startedAs = nullptr);
// Restarts the Kernel unit from the scratch folder again.
void RestartKernelInTestFolder();
