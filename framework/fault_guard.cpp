// The fault guard: structured exception frames that offer a fault escaping the
// saver's code to the system's own UnhandledExceptionFilter, so that the fault
// report, the error dialog or a debugger see it as they would without us, and
// that act on its answer. When the system asks for the handler, the saver lowers
// the screen-saver-running flag (a crashed saver must not leave task switching
// off on Windows 9x) and ends with the exception code.
//
// The outer frame lies around the mode. The system calls our window, dialog and
// timer procedures under frames of its own: DispatchMessage swallows a fault in
// a timer callback, and on 64-bit Windows a fault in a window procedure that a
// kernel callback reached never gets past it. So each of those procedures runs
// under an inner frame too, which sees the fault first. No unwind can cross a
// kernel callback, so an inner frame ends the process where it stands.
//
// i686 builds each frame as an exception registration record on the thread's
// FS:[0] chain; x86_64 names the handler in the function's unwind table entry.
#include "saver_frame.h"

namespace {

enum : DWORD { UNWINDING_FLAGS = EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND };
enum : int { RUN_GUARD_HANDLER = -2 };  // beside the dispositions the dispatcher knows

// Returns the disposition for the dispatcher, or RUN_GUARD_HANDLER.
int AskSystem(EXCEPTION_RECORD* record, CONTEXT* context) {
    if (record->ExceptionFlags & UNWINDING_FLAGS) return ExceptionContinueSearch;
    if (record == g_frame.offeredFault)
        return ExceptionContinueSearch;  // an inner frame asked already
    g_frame.offeredFault = record;
    EXCEPTION_POINTERS pointers{record, context};
    switch (UnhandledExceptionFilter(&pointers)) {
        case EXCEPTION_EXECUTE_HANDLER: return RUN_GUARD_HANDLER;
        case EXCEPTION_CONTINUE_EXECUTION:
            g_frame.offeredFault =
                nullptr;  // this fault is over; a later one may lie at the same address
            return ExceptionContinueExecution;
        default: return ExceptionContinueSearch;
    }
}

}  // namespace

extern "C" __attribute__((used)) EXCEPTION_DISPOSITION InnerGuardHandler(EXCEPTION_RECORD* record,
                                                                         void*, CONTEXT* context,
                                                                         void*) {
    const int answer = AskSystem(record, context);
    if (answer != RUN_GUARD_HANDLER) return static_cast<EXCEPTION_DISPOSITION>(answer);
    SetSaverRunningFlag(false);
    ExitProcess(record->ExceptionCode);
}

#if defined(__i386__)

namespace {

struct RegistrationRecord {
    RegistrationRecord* previous;
    void* handler;
};
static_assert(sizeof(RegistrationRecord) == 8, "the system reads two 32-bit words");

struct OuterFrame {
    RegistrationRecord record;  // first: the system hands its address back to the handler
    void* resume[5];            // __builtin_setjmp's buffer
};

RegistrationRecord* ChainHead() {
    RegistrationRecord* head;
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head));
    return head;
}

void SetChainHead(RegistrationRecord* head) {
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(head) : "memory");
}

// Runs the unwinding of every frame inside `frame`. RtlUnwind does not keep the
// caller's registers on every system, so all of them are saved around it.
__attribute__((noinline)) void UnwindTo(void* frame, EXCEPTION_RECORD* record) {
    __asm__ __volatile__(
        "pushl %%ebp\n\t"
        "pushl %%ebx\n\t"
        "pushl %%esi\n\t"
        "pushl %%edi\n\t"
        "pushl $0\n\t"
        "pushl %1\n\t"
        "pushl $0\n\t"
        "pushl %0\n\t"
        "call _RtlUnwind@16\n\t"
        "popl %%edi\n\t"
        "popl %%esi\n\t"
        "popl %%ebx\n\t"
        "popl %%ebp"
        :
        : "r"(frame), "r"(record)
        : "eax", "ecx", "edx", "memory", "cc");
}

extern "C" EXCEPTION_DISPOSITION OuterGuardHandler(EXCEPTION_RECORD* record, void* frame,
                                                   CONTEXT* context, void*) {
    const int answer = AskSystem(record, context);
    if (answer != RUN_GUARD_HANDLER) return static_cast<EXCEPTION_DISPOSITION>(answer);
    auto* outer = static_cast<OuterFrame*>(frame);
    g_frame.faultCaught = true;
    g_frame.caughtCode = record->ExceptionCode;
    UnwindTo(frame, record);
    SetChainHead(outer->record.previous);
    __builtin_longjmp(outer->resume, 1);
}

__attribute__((noinline)) intptr_t OuterGuardCall(GuardedBody body, void* context) {
    OuterFrame outer;
    if (__builtin_setjmp(outer.resume)) return 0;  // the handler unwound to here
    outer.record = {ChainHead(), reinterpret_cast<void*>(OuterGuardHandler)};
    SetChainHead(&outer.record);
    const intptr_t result = body(context);
    SetChainHead(outer.record.previous);
    return result;
}

__attribute__((noinline)) intptr_t InnerGuardCall(GuardedBody body, void* context) {
    RegistrationRecord record{ChainHead(), reinterpret_cast<void*>(InnerGuardHandler)};
    SetChainHead(&record);
    const intptr_t result = body(context);
    SetChainHead(record.previous);
    return result;
}

}  // namespace

#elif defined(__x86_64__)

namespace {

// Unwinds to the guarded call and resumes right behind it, as if the body had returned.
extern "C" __attribute__((used)) EXCEPTION_DISPOSITION OuterGuardHandler(
    EXCEPTION_RECORD* record, void* frame, CONTEXT* context, DISPATCHER_CONTEXT* dispatch) {
    const int answer = AskSystem(record, context);
    if (answer != RUN_GUARD_HANDLER) return static_cast<EXCEPTION_DISPOSITION>(answer);
    g_frame.faultCaught = true;
    g_frame.caughtCode = record->ExceptionCode;
    RtlUnwind(frame, reinterpret_cast<void*>(dispatch->ControlPc), record, nullptr);
    return ExceptionContinueSearch;  // not reached
}

// The nop behind each call keeps the frame (a tail call would leave none) and
// keeps the return address out of the epilogue: the system calls no handler of
// a frame that it finds in its epilogue.
__attribute__((noinline)) intptr_t OuterGuardCall(GuardedBody body, void* context) {
    __asm__(".seh_handler OuterGuardHandler, @except");
    intptr_t result = body(context);
    __asm__ __volatile__("nop" : "+r"(result));
    return result;
}

__attribute__((noinline)) intptr_t InnerGuardCall(GuardedBody body, void* context) {
    __asm__(".seh_handler InnerGuardHandler, @except");
    intptr_t result = body(context);
    __asm__ __volatile__("nop" : "+r"(result));
    return result;
}

}  // namespace

#else
#error "the fault guard knows the i686 and x86_64 frames only"
#endif

intptr_t RunUnderFaultGuard(GuardedBody body, void* context, DWORD* faultCode) {
    g_frame.faultCaught = false;
    g_frame.guardActive = true;
    const intptr_t result = OuterGuardCall(body, context);
    g_frame.guardActive = false;
    *faultCode = g_frame.faultCaught ? g_frame.caughtCode : 0;
    return result;
}

intptr_t CallUnderFaultGuard(GuardedBody body, void* context) {
    return g_frame.guardActive ? InnerGuardCall(body, context) : body(context);
}

namespace {

intptr_t FrameProcBody(void* call) {
    const auto* m = static_cast<const GuardedMessage*>(call);
    return SaverFrameProc(m->window, m->message, m->wParam, m->lParam);
}

intptr_t ConfigDialogBody(void* call) {
    const auto* m = static_cast<const GuardedMessage*>(call);
    return AppConfigDialogProc(m->window, m->message, m->wParam, m->lParam);
}

}  // namespace

LRESULT CALLBACK GuardedSaverFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    GuardedMessage call{window, message, wParam, lParam};
    return CallUnderFaultGuard(FrameProcBody, &call);
}

INT_PTR CALLBACK GuardedConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    GuardedMessage call{dialog, message, wParam, lParam};
    return CallUnderFaultGuard(ConfigDialogBody, &call);
}
