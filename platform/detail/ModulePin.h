#pragma once
// For the platform's own sources: keeping a loaded module's code in memory.

namespace platform {

// Marks the module (shared library, DLL) that holds `address` as never to be
// unloaded, so a thread left running in it cannot find its code unmapped under
// it. Harmless for code of the main program. Never fails loudly.
void PinModuleOf(const void* address);

}  // namespace platform
