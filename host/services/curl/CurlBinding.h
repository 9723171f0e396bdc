#pragma once
// How the pointers of CurlLibrary.h reach libcurl. The build picks one of two
// bindings: CurlLoaded.cpp maps the system's shared libcurl for the time of
// the leases, CurlLinked.cpp points at a libcurl linked into the program.
#include <string>

namespace orsahost::curl {

// Sets every pointer of CurlLibrary.h; "" on success, else the reason, and
// then nothing stays loaded. Called under the lease lock, before the first lease.
std::string Bind();

// Gives up what Bind took, after the last lease has run the global clean-up.
void Unbind();

}  // namespace orsahost::curl
