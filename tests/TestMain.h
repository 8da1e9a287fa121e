// What the shared test main (tests/TestMain.cpp) offers the tests of every layer.
#pragma once
#include <string>

// A private temporary folder (POSIX path, no trailing slash) that lives as long as the test
// program. The program's module is a file inside it, so the code-page table file is made there.
const std::string& TestScratchFolder();
// Makes the platform see programPath (POSIX path) as the module, started by the name startedAs
// (programPath when null), with one further argument when given.
void SetTestProgram(const std::string& programPath, const char* argument = nullptr, const char* startedAs = nullptr);
// The test program's own arguments again, after a test set others.
void RestoreProgramArguments();
