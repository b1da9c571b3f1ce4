// The export macro of the library, below every folder that exports, the stand-ins included.
#pragma once

// The library is built with hidden visibility; exported classes and functions carry KESTRO_API.
#if defined(_WIN32)
#if defined(KESTRO_BUILDING_LIBRARY)
#define KESTRO_API __declspec(dllexport)
#else
#define KESTRO_API __declspec(dllimport)
#endif
#else
#define KESTRO_API __attribute__((visibility("default")))
#endif
