#pragma once
// The running process as a host sees itself: its program file, its id, its
// current folder and its threads.
#include <string>

#include "platform/Export.h"

namespace platform {

// The full path of the running program file; `fallback` when the system
// cannot tell.
PLATFORM_EXPORT std::string ExecutablePath(const std::string& fallback);

// The id the system knows this process by.
PLATFORM_EXPORT int ProcessId();

// Makes `path` the process's current folder. False with the system's reason
// in *error.
PLATFORM_EXPORT bool ChangeDirectory(const std::string& path, std::string* error);

// The system's reason for the last failed call on the calling thread (errno on
// Linux, GetLastError on Windows), in words.
PLATFORM_EXPORT std::string LastErrorText();

// Threads of this process that still run besides the caller and the ones the
// process had before its first call (the first call counts them and answers
// as the later ones do). On Linux every other thread counts, except the one
// ThreadSanitizer's runtime keeps; on Windows the threads the system adds to
// a process (the loader's, the service dispatcher's) were there before the
// first call and do not count. A host calls it once before it loads a
// component and once after the component's stop.
PLATFORM_EXPORT int OtherThreads();

}  // namespace platform
