// Number input: keeps the character table of the number reader for input fields. The program
// has no input field, so nothing else happens here.
#pragma once

// NumberChars of Preobrazovaniechisel while the unit runs, null otherwise.
extern const char* NumberInputChars;

void VvodchiselStartup();
void VvodchiselShutdown();
