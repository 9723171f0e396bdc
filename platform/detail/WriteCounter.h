#pragma once
// The counts GetFileWriteCounts reports, kept by the systems' file code.
namespace platform {
namespace detail {

// A file replaced by ReplaceFileAtomically.
void CountReplaced();
// A flush to disk on its behalf.
void CountFlush();

}  // namespace detail
}  // namespace platform
