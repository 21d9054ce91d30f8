// What the fuzz targets share: a property check that stops the run with the property's text.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(property)                                                               \
  do {                                                                                     \
    if (!(property)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #property); \
      std::abort();                                                                        \
    }                                                                                      \
  } while (0)
