#pragma once
// Symbol visibility across shared libraries. The build hides every symbol by
// default; these macros name the ones another module may use.
//
// PLATFORM_EXPORT marks the interface of the platform library itself: exported
// while the platform is built (OBX_PLATFORM_BUILD), imported by everyone else.
// MODULE_EXPORT marks a loadable module's own entry point (the component's
// export, a composite's), always exported from the module that defines it.
// PLATFORM_PRINTF(f, a) lets the compiler check a printf-style argument list:
// argument f is the format and the variadic arguments start at a.
#if defined(_WIN32)
#if defined(OBX_PLATFORM_BUILD)
#define PLATFORM_EXPORT __declspec(dllexport)
#else
#define PLATFORM_EXPORT __declspec(dllimport)
#endif
#define MODULE_EXPORT __declspec(dllexport)
#else
#define PLATFORM_EXPORT __attribute__((visibility("default")))
#define MODULE_EXPORT __attribute__((visibility("default")))
#endif

#if defined(__GNUC__)
#define PLATFORM_PRINTF(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define PLATFORM_PRINTF(fmt, first)
#endif
