#pragma once
// Marks a function as exported from the shared library it is built into. The
// build hides every other symbol.
#if defined(_WIN32)
#define PLATFORM_EXPORT __declspec(dllexport)
#else
#define PLATFORM_EXPORT __attribute__((visibility("default")))
#endif
