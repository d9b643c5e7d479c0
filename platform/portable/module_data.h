// Data a module carries on native so that the portable backend can serve
// DialogBoxParam (from the module's own resource script) and GetProcAddress by
// ordinal (from the module's own .def file). Generated at build time.
#pragma once

#define TOVREL_MODULE_DATA __attribute__((visibility("default")))

struct TovrelExportOrdinal {
  unsigned ordinal;
  const char* name;
};
