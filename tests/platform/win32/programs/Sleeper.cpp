// A child for the process tests: obx-sleeper <ms> <exit code> [<file> <word>...]
// sleeps, writes the words it was given (as its C runtime split them), one
// per line, into <file>, and exits with the code.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 3) return 100;
  ::Sleep(static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)));
  if (argc >= 4) {
    std::FILE* out = std::fopen(argv[3], "wb");
    if (out == nullptr) return 101;
    for (int i = 4; i < argc; ++i) std::fprintf(out, "%s\n", argv[i]);
    std::fclose(out);
  }
  return std::atoi(argv[2]);
}
