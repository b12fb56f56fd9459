// The processor check behind the decoder's choice of carriers. SSE2 needs the
// processor's feature bit and a system that saves the XMM registers on a task
// switch: x86-64 always has both; on 32-bit Windows, 95 and NT 4.0 do not save
// them and refuse every SSE instruction as illegal, so one is tried under a
// structured exception frame. AVX2 needs the processor's bit and a system that
// saves the YMM registers (OSXSAVE set and XCR0 showing SSE and AVX state
// enabled); without them the SSE2 carriers run, or the plain ones.
#include "decoder_context.h"

#if DUNMERE_SSE2
#include <cpuid.h>
#endif

#if DUNMERE_SSE2 && defined(__i386__) && defined(_WIN32)
namespace {

// An exception registration record on the FS:[0] chain with the address at
// which the probe goes on when its instruction faults.
struct ProbeFrame {
    ProbeFrame* next;
    void* handler;
    DWORD resume;
};

// The probe's own instruction is the only one that can fault inside its frame:
// whatever the exception, the probe answers no.
extern "C" __attribute__((used))
EXCEPTION_DISPOSITION __cdecl SseProbeHandler(EXCEPTION_RECORD* record, void* frame,
                                              CONTEXT* context, void*) {
    const DWORD UNWINDING = 2 | 4;  // EXCEPTION_UNWINDING, EXCEPTION_EXIT_UNWIND
    if (record->ExceptionFlags & UNWINDING) return ExceptionContinueSearch;
    context->Eip = static_cast<ProbeFrame*>(frame)->resume;
    context->Eax = 0;
    return ExceptionContinueExecution;
}

}  // namespace

bool SystemRunsSse(bool forceFault) {
    unsigned runs;
    // The frame is built on the stack by hand and taken off again before the
    // statement ends, so that no compiler-made stack access falls between.
    __asm__ __volatile__(
        "pushl $1f\n\t"
        "pushl %[handler]\n\t"
        "pushl %%fs:0\n\t"
        "movl %%esp, %%fs:0\n\t"
        "movl $1, %%eax\n\t"
        "testl %[force], %[force]\n\t"
        "jz 2f\n\t"
        "ud2\n"
        "2:\n\t"
        "pxor %%xmm0, %%xmm0\n"
        "1:\n\t"
        "popl %%fs:0\n\t"
        "addl $8, %%esp"
        : "=&a"(runs)
        : [handler] "r"(&SseProbeHandler), [force] "r"(static_cast<unsigned>(forceFault))
        : "memory", "cc");
    return runs != 0;
}
#endif

namespace {

// The processor's answer plus one, 0 until asked: CPUID is slow where a
// hypervisor intercepts it, and the probe raises an exception where SSE is
// refused, so it is asked once per process (threads that race here store the
// same value).
int g_processorLevelPlusOne;

SimdLevel ProcessorSimdLevel() {
#if DUNMERE_SSE2
    unsigned eax, ebx, ecx, edx;
#if defined(__i386__)
    // __get_cpuid also finds out whether the processor has CPUID (a 486 may not).
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || (edx & (1u << 26)) == 0) return SIMD_NONE;
#if defined(_WIN32)
    if (!SystemRunsSse(false)) return SIMD_NONE;
#endif
#else
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return SIMD_SSE2;
#endif
#if DUNMERE_AVX2
    const unsigned OSXSAVE = 1u << 27, AVX = 1u << 28;
    if ((ecx & (OSXSAVE | AVX)) != (OSXSAVE | AVX)) return SIMD_SSE2;
    unsigned xcr0Low, xcr0High;
    __asm__("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
    if ((xcr0Low & 6) != 6) return SIMD_SSE2;  // XMM and YMM state saved by the system
    if (__get_cpuid_max(0, nullptr) < 7) return SIMD_SSE2;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    return (ebx & (1u << 5)) != 0 ? SIMD_AVX2 : SIMD_SSE2;
#else
    return SIMD_SSE2;
#endif
#else
    return SIMD_NONE;
#endif
}

}  // namespace

SimdLevel DetectSimdLevel() {
    int known = __atomic_load_n(&g_processorLevelPlusOne, __ATOMIC_RELAXED);
    if (known == 0) {
        known = ProcessorSimdLevel() + 1;
        __atomic_store_n(&g_processorLevelPlusOne, known, __ATOMIC_RELAXED);
    }
    return static_cast<SimdLevel>(known - 1);
}
