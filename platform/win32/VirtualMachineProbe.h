#pragma once
// The two tests that tell a virtual machine from real hardware on Windows:
// each executes an instruction that a hypervisor's backdoor answers and real
// hardware refuses with a fault. The fault is caught by a vectored exception
// handler installed for the length of the probe, which resumes after the
// instruction with the "not virtual" answer; a fault anywhere else is left to
// the process's other handlers. Thread-safe; no state between calls.
#include "platform/Export.h"

namespace platform {
namespace win32 {

// The Virtual PC backdoor (bytes 0F 3F 07 0B) with EAX = 1 and EBX = 0: true
// when it runs without fault and leaves EBX 0. Real hardware raises an
// illegal-instruction fault; the handler then sets EBX nonzero and skips the
// four bytes.
PLATFORM_EXPORT bool VirtualPcAnswers();

// The VMware backdoor port: IN EAX, DX with EAX = 0x564D5868, ECX = 10 (get
// version), EDX = 0x5658 and EBX = 0. True when EBX comes back as 0x564D5868.
// Real hardware raises a privileged-instruction fault; the handler then
// resumes after the instruction with EBX 0.
PLATFORM_EXPORT bool VmwareAnswers();

}  // namespace win32
}  // namespace platform
