#pragma once
// Starts the units the engine needs, once per fuzzing process.
void StartEngineUnits();
