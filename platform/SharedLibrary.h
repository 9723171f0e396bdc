#pragma once
// Loading a shared library (a DLL on Windows) into the process and finding its
// exports. Thread-safe; never throws.
#include <string>

#include "platform/Export.h"

namespace platform {

// Loads the library at `path` with every reference resolved now and its
// symbols kept to itself. A path without a folder is taken from the current
// folder, never searched for in the system's library path. Once loaded, the
// library's code stays in memory until the process ends, even after
// CloseSharedLibrary: a thread of the library that outlived its stop never
// runs into unmapped code. Null on failure, with the loader's reason in *error.
PLATFORM_EXPORT void* OpenSharedLibrary(const std::string& path, std::string* error);

// Loads a library of the system by its run-time name ("libcurl.so.4"), found
// where the system keeps its libraries, for a while: unlike a component, it
// is unmapped again when CloseSharedLibrary gives up its last reference. For
// libraries the process needs only now and then. Null on failure, with the
// loader's reason in *error.
PLATFORM_EXPORT void* OpenSystemLibrary(const std::string& name, std::string* error);

// The address of the export `name` of an open library, or null.
PLATFORM_EXPORT void* SharedLibrarySymbol(void* library, const std::string& name);

// Gives up a library that OpenSharedLibrary (its code stays, see above) or
// OpenSystemLibrary answered. Null is ignored.
PLATFORM_EXPORT void CloseSharedLibrary(void* library);

// The file name of the library called `name` on this system:
// "lib<name>.so" on Linux, "<name>.dll" on Windows.
PLATFORM_EXPORT std::string SharedLibraryFileName(const std::string& name);

}  // namespace platform
