#include "platform/win32/VirtualMachineProbe.h"

#include "platform/win32/Windows.h"

#if defined(__i386__)

// Both probes are written out whole in assembly, so that the handler knows
// exactly where the instruction that may fault starts and where execution
// resumes, and no compiler choice of registers stands between the values set
// and the instruction. Each returns what EBX holds afterwards; EBX itself is
// preserved for the caller.
asm(R"(
    .text
    .p2align 4
_obx_virtual_pc_probe:
    pushl %ebx
    xorl %ebx, %ebx
    movl $1, %eax
_obx_virtual_pc_instruction:
    .byte 0x0F, 0x3F, 0x07, 0x0B
_obx_virtual_pc_resume:
    movl %ebx, %eax
    popl %ebx
    ret

    .p2align 4
_obx_vmware_probe:
    pushl %ebx
    movl $0x564D5868, %eax
    xorl %ebx, %ebx
    movl $10, %ecx
    movl $0x5658, %edx
_obx_vmware_instruction:
    inl %dx, %eax
_obx_vmware_resume:
    movl %ebx, %eax
    popl %ebx
    ret
)");

extern "C" {
unsigned long obx_virtual_pc_probe();
unsigned long obx_vmware_probe();
extern const unsigned char obx_virtual_pc_instruction[];
extern const unsigned char obx_virtual_pc_resume[];
extern const unsigned char obx_vmware_instruction[];
extern const unsigned char obx_vmware_resume[];
}

namespace platform {
namespace win32 {

namespace {

constexpr DWORD kVmwareMagic = 0x564D5868;  // "VMXh"

DWORD AddressOf(const unsigned char* label) { return reinterpret_cast<DWORD>(label); }

// Resumes a probe whose instruction faulted, with the answer real hardware
// gives. Exceptions that are not faults of the instruction (a debugger's
// breakpoint or single step landing there, any fault elsewhere) go on to the
// next handler.
LONG CALLBACK ProbeFaultHandler(EXCEPTION_POINTERS* info) {
  const DWORD code = info->ExceptionRecord->ExceptionCode;
  if (code == EXCEPTION_BREAKPOINT || code == EXCEPTION_SINGLE_STEP)
    return EXCEPTION_CONTINUE_SEARCH;
  CONTEXT* context = info->ContextRecord;
  if (context->Eip == AddressOf(obx_virtual_pc_instruction)) {
    context->Ebx = 1;
    context->Eip = AddressOf(obx_virtual_pc_resume);
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  if (context->Eip == AddressOf(obx_vmware_instruction)) {
    context->Ebx = 0;
    context->Eip = AddressOf(obx_vmware_resume);
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

// Runs `probe` with the handler in place; `refused` when the handler cannot
// be installed, since the instruction must never run unguarded.
unsigned long Guarded(unsigned long (*probe)(), unsigned long refused) {
  void* handler = ::AddVectoredExceptionHandler(1, &ProbeFaultHandler);
  if (handler == nullptr) return refused;
  const unsigned long ebx = probe();
  ::RemoveVectoredExceptionHandler(handler);
  return ebx;
}

}  // namespace

bool VirtualPcAnswers() { return Guarded(&obx_virtual_pc_probe, 1) == 0; }

bool VmwareAnswers() { return Guarded(&obx_vmware_probe, 0) == kVmwareMagic; }

}  // namespace win32
}  // namespace platform

#else

namespace platform {
namespace win32 {

// The backdoors are 32-bit x86 instructions; other builds have no such test.
bool VirtualPcAnswers() { return false; }
bool VmwareAnswers() { return false; }

}  // namespace win32
}  // namespace platform

#endif
