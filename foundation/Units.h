// The program's units start in one fixed order, so that the memory manager is ready before any unit
// creates objects, and stop in exactly the reverse order.
//
// The list names the units of every layer, with the layer each belongs to, but it is only a table
// of names: StartUnits<kLayer>() starts the units of that layer and of the layers below it, in the
// program's order, and names (so links) nothing above it. The program starts them all; the test
// program of a layer starts what that layer may use.
#pragma once

enum TUnitLayer { kPlatformLayer, kFoundationLayer, kEngineLayer, kUiLayer, kAppLayer };  // the platform has none

#define VELMORA_UNITS(UNIT)                                                                              \
  UNIT(kFoundationLayer, Operaciispamyatyu) UNIT(kFoundationLayer, Memdiag)                              \
  UNIT(kFoundationLayer, Operaciisostrokami) UNIT(kFoundationLayer, Tstring) UNIT(kUiLayer, Kernel)      \
  UNIT(kUiLayer, Toknosoobzheniy) UNIT(kEngineLayer, Matematicheskieoperacii)                            \
  UNIT(kUiLayer, Toknosostoyaniya) UNIT(kAppLayer, Sistemniesoobzheniya)                                 \
  UNIT(kAppLayer, Operaciisfaylamiipapkami) UNIT(kUiLayer, Preobrazovaniechisel)                         \
  UNIT(kUiLayer, Vvodchisel) UNIT(kEngineLayer, Kodirovaniechisel) UNIT(kEngineLayer, Compression)

#define VELMORA_DECLARE_UNIT(layer, name) \
  void name##Startup();                   \
  void name##Shutdown();
VELMORA_UNITS(VELMORA_DECLARE_UNIT)
#undef VELMORA_DECLARE_UNIT

template <TUnitLayer kTop>
void StartUnits() {
#define VELMORA_START_UNIT(layer, name) \
  if constexpr (layer <= kTop) name##Startup();
  VELMORA_UNITS(VELMORA_START_UNIT)
#undef VELMORA_START_UNIT
}

template <TUnitLayer kTop>
void StopUnits() {
  // The list backwards: each shut-down is pushed in front of those of the units before it.
  void (*order[32])() = {};
  int count = 0;
#define VELMORA_STOP_UNIT(layer, name) \
  if constexpr (layer <= kTop) order[count++] = name##Shutdown;
  VELMORA_UNITS(VELMORA_STOP_UNIT)
#undef VELMORA_STOP_UNIT
  while (count > 0) order[--count]();
}
