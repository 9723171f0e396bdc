#pragma once
// A loaded shared library, given up when the object goes. Its code
// and static data stay mapped until the process ends, so a thread of the
// library that outlived its stop never runs into unmapped memory; static
// destructors of the library run at process exit.
#include <memory>
#include <string>

namespace orsahost {

// Not thread-safe; owned by one holder. Every object and function pointer got
// from the library must be gone before the object is destroyed.
class SharedLibrary {
 public:
  // Loads `path` with all symbols resolved now and kept local to the library.
  // A path without "/" is taken relative to the current folder, never
  // searched for in the system's library path.
  // Empty pointer on failure, with the loader's reason in *error.
  static std::unique_ptr<SharedLibrary> Open(const std::string& path, std::string* error);
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // The address of an exported symbol, or null.
  void* Symbol(const std::string& name) const;
  const std::string& path() const { return path_; }

 private:
  SharedLibrary(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  void* handle_;
  std::string path_;
};

}  // namespace orsahost
