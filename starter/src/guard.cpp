#include "guard.h"

#include <windows.h>

namespace {

// Structured exception codes of C++ throws: the Microsoft compiler's runtime
// and GCC's unwinder.
const DWORD kMsvcCppException = 0xE06D7363;
const DWORD kGccCppException = 0x20474343;

} // namespace

#ifdef _MSC_VER

namespace {

int cppExceptionFilter(DWORD code)
{
    return code == kMsvcCppException || code == kGccCppException ? EXCEPTION_EXECUTE_HANDLER
                                                                : EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

int callGuarded(GuardedFn fn, void *context)
{
    __try {
        return fn(context);
    } __except (cppExceptionFilter(GetExceptionCode())) {
        return 1;
    }
}

#elif defined(__x86_64__)

// GCC has no __try: a small frame with an exception handler of its own
// calls fn. The handler takes the Microsoft compiler's C++ exceptions and
// unwinds to the frame's end with 1 as the result; GCC's own exceptions are
// left to the C++ handler around it, which frees them properly.
extern "C" int meridaneSehGuardedCall(GuardedFn fn, void *context);
extern "C" char meridaneSehGuardCaught[];
extern "C" EXCEPTION_DISPOSITION meridaneSehGuardHandler(EXCEPTION_RECORD *record,
                                                         void *establisherFrame, CONTEXT *,
                                                         DISPATCHER_CONTEXT *dispatch);

__asm__(
    "    .text\n"
    "    .p2align 4\n"
    "    .globl meridaneSehGuardedCall\n"
    "    .def meridaneSehGuardedCall; .scl 2; .type 32; .endef\n"
    "    .seh_proc meridaneSehGuardedCall\n"
    "meridaneSehGuardedCall:\n"
    "    subq $40, %rsp\n"
    "    .seh_stackalloc 40\n"
    "    .seh_endprologue\n"
    "    .seh_handler meridaneSehGuardHandler, @except\n"
    "    movq %rcx, %rax\n"
    "    movq %rdx, %rcx\n"
    "    call *%rax\n"
    // Keeps the return address off the epilogue, so the unwinder sees the
    // call inside the frame's body.
    "    nop\n"
    "    .globl meridaneSehGuardCaught\n"
    "meridaneSehGuardCaught:\n"
    "    addq $40, %rsp\n"
    "    ret\n"
    "    .seh_endproc\n");

extern "C" EXCEPTION_DISPOSITION meridaneSehGuardHandler(EXCEPTION_RECORD *record,
                                                         void *establisherFrame, CONTEXT *,
                                                         DISPATCHER_CONTEXT *dispatch)
{
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    if (record->ExceptionCode != kMsvcCppException)
        return ExceptionContinueSearch;
    // Runs the cleanups of the frames in between and resumes behind the call
    // with 1 in the result register; does not return.
    RtlUnwindEx(establisherFrame, meridaneSehGuardCaught, record, reinterpret_cast<PVOID>(1),
                dispatch->ContextRecord, dispatch->HistoryTable);
    return ExceptionContinueSearch;
}

int callGuarded(GuardedFn fn, void *context)
{
    try {
        return meridaneSehGuardedCall(fn, context);
    } catch (...) {
        return 1;
    }
}

#else

// Other targets: only this compiler's own exceptions are caught.
int callGuarded(GuardedFn fn, void *context)
{
    try {
        return fn(context);
    } catch (...) {
        return 1;
    }
}

#endif
