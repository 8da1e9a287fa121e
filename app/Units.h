// The program's units start in one fixed order, so that the memory manager is ready before any
// unit creates objects, and stop in exactly the reverse order.
#pragma once

void StartUnits();
void StopUnits();
