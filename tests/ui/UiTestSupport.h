// Shared by the user-interface tests: the scratch folder the test program runs "from".
#pragma once
#include <string>

// A private temporary folder (POSIX path, no trailing slash). The test program's command line
// names a program inside it, so the code-page table file is made there and not in the tree.
const std::string& UiTestFolder();

// Restarts the Kernel unit as if the program had been started as `programPath` (POSIX path) with
// the given further arguments; the code-page tables are loaded from or made in its folder.
void RestartKernelAs(const std::string& programPath, const char* argument = nullptr);
// Restarts the Kernel unit from the scratch folder again.
void RestartKernelInTestFolder();
