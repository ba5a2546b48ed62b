// The native call for i686 (stdcall and cdecl, result in EDX:EAX or ST0) and x86_64 (four register
// arguments with shadow space, each also in its XMM register so that variadic callees find doubles).
// No C++ exception ever crosses this routine: a structured exception raised by the callee reaches the
// process's unhandled-exception filter (nothing in between handles it), which resumes execution at the
// routine's recovery point with its own frame restored.
#include "interop/NativeCall.h"
#include <windows.h>
#include <cstddef>

extern "C" void BrmNativeCallStub(brm::NativeCallFrame* frame) asm("brm_native_call_stub");
extern "C" void BrmNativeCallRecover() asm("brm_native_call_recover");

#if defined(__x86_64__)
static_assert(offsetof(brm::NativeCallFrame, stack) == 8 && offsetof(brm::NativeCallFrame, stackWords) == 16 &&
              offsetof(brm::NativeCallFrame, savedFrame) == 32 && offsetof(brm::NativeCallFrame, resultLow) == 56 &&
              offsetof(brm::NativeCallFrame, resultFloat) == 80, "the assembly reads these offsets");
// The frame pointer makes the stack pointer's movement during the call describable to the unwinder, so
// that an exception raised deep in the callee can walk out through this routine.
asm(R"(
    .intel_syntax noprefix
    .text
    .globl brm_native_call_stub
    .def brm_native_call_stub; .scl 2; .type 32; .endef
    .seh_proc brm_native_call_stub
brm_native_call_stub:
    push rbp
    .seh_pushreg rbp
    push rbx
    .seh_pushreg rbx
    push rsi
    .seh_pushreg rsi
    push rdi
    .seh_pushreg rdi
    sub rsp, 8
    .seh_stackalloc 8
    mov rbp, rsp
    .seh_setframe rbp, 0
    .seh_endprologue
    mov rbx, rcx
    mov [rbx+32], rbp
    mov rcx, [rbx+16]
    lea rax, [rcx*8+15]
    and rax, -16
    sub rsp, rax
    mov rsi, [rbx+8]
    mov rdi, rsp
    cld
    rep movsq
    mov rcx, [rsp]
    mov rdx, [rsp+8]
    mov r8, [rsp+16]
    mov r9, [rsp+24]
    movq xmm0, rcx
    movq xmm1, rdx
    movq xmm2, r8
    movq xmm3, r9
    call qword ptr [rbx]
    mov [rbx+56], rax
    movq qword ptr [rbx+80], xmm0
    .globl brm_native_call_recover
brm_native_call_recover:
    mov rsp, rbp
    add rsp, 8
    pop rdi
    pop rsi
    pop rbx
    pop rbp
    ret
    .seh_endproc
    .att_syntax prefix
)");
#elif defined(__i386__)
static_assert(offsetof(brm::NativeCallFrame, stack) == 4 && offsetof(brm::NativeCallFrame, savedFrame) == 16 &&
              offsetof(brm::NativeCallFrame, resultLow) == 28 && offsetof(brm::NativeCallFrame, savedSehChain) == 36 &&
              offsetof(brm::NativeCallFrame, resultFloat) == 40, "the assembly reads these offsets");
// The arguments are laid so that the stack is 16-byte aligned at the call; the stack pointer before them
// is what a stdcall callee must leave behind. ST0 is popped only for floating returns: popping an empty
// register stack would leave the x87 unit in a fault state for the rest of the run.
asm(R"(
    .intel_syntax noprefix
    .text
    .globl brm_native_call_stub
brm_native_call_stub:
    push ebp
    mov ebp, esp
    push ebx
    push esi
    push edi
    mov ebx, [ebp+8]
    mov [ebx+16], ebp
    mov eax, dword ptr fs:[0]
    mov [ebx+36], eax
    mov ecx, [ebx+8]
    shl ecx, 2
    mov eax, esp
    sub eax, ecx
    and eax, -16
    add eax, ecx
    mov esp, eax
    mov [ebx+20], esp
    sub esp, ecx
    mov esi, [ebx+4]
    mov edi, esp
    shr ecx, 2
    cld
    rep movsd
    call dword ptr [ebx]
    mov ebx, [ebp+8]
    mov [ebx+24], esp
    mov [ebx+28], eax
    mov [ebx+32], edx
    cmp dword ptr [ebx+12], 0
    je 1f
    fstp qword ptr [ebx+40]
1:
    lea esp, [ebp-12]
    pop edi
    pop esi
    pop ebx
    pop ebp
    ret
    .globl brm_native_call_recover
brm_native_call_recover:
    mov ebx, [ebp+8]
    mov eax, [ebx+36]
    mov dword ptr fs:[0], eax
    lea esp, [ebp-12]
    pop edi
    pop esi
    pop ebx
    pop ebp
    ret
    .att_syntax prefix
)");
#else
#error "native calls are written for i686 and x86_64"
#endif

namespace brm {

namespace {

NativeCallFrame* s_active = nullptr;  // the innermost call in progress, if native code is running
LPTOP_LEVEL_EXCEPTION_FILTER s_previousFilter = nullptr;
bool s_filterInstalled = false;

LONG WINAPI NativeCallFilter(EXCEPTION_POINTERS* info) {
    NativeCallFrame* f = s_active;
    if (!f) return s_previousFilter ? s_previousFilter(info) : EXCEPTION_CONTINUE_SEARCH;
    f->faulted = true;
    f->exceptionCode = info->ExceptionRecord->ExceptionCode;
    CONTEXT* c = info->ContextRecord;
#if defined(__x86_64__)
    c->Rip = reinterpret_cast<DWORD64>(&BrmNativeCallRecover);
    c->Rbp = f->savedFrame;
    c->Rsp = f->savedFrame;
#else
    c->Eip = reinterpret_cast<DWORD>(&BrmNativeCallRecover);
    c->Ebp = f->savedFrame;
    c->Esp = f->savedFrame - 12;
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

void CallNativeFrame(NativeCallFrame& frame) {
    // Installed at the first call, after start-up's own filter, which it passes everything else on to.
    if (!s_filterInstalled) {
        s_previousFilter = SetUnhandledExceptionFilter(NativeCallFilter);
        s_filterInstalled = true;
    }
    NativeCallFrame* outer = s_active;
    s_active = &frame;
    BrmNativeCallStub(&frame);
    s_active = outer;
}

NativeGuardSuspended::NativeGuardSuspended() : m_saved(s_active) { s_active = nullptr; }
NativeGuardSuspended::~NativeGuardSuspended() { s_active = m_saved; }

}  // namespace brm
