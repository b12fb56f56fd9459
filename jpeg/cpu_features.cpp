// The processor check behind the decoder's choice of carriers. AVX2 needs the
// processor's feature bit and a system that saves the YMM registers on a task
// switch (OSXSAVE set and XCR0 showing SSE and AVX state enabled); without
// either, the SSE2 carriers (x86-64 always has SSE2) or the plain ones run.
#include "decoder_context.h"

#if DUNMERE_AVX2
#include <cpuid.h>
#endif

SimdLevel g_jpegSimdLimit = SIMD_AVX2;

namespace {

// The processor's answer plus one, 0 until asked: CPUID is slow where a
// hypervisor intercepts it, so it is asked once per process (threads that
// race here store the same value).
int g_processorLevelPlusOne;

SimdLevel ProcessorSimdLevel() {
#if DUNMERE_AVX2
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return SIMD_SSE2;
  const unsigned OSXSAVE = 1u << 27, AVX = 1u << 28;
  if ((ecx & (OSXSAVE | AVX)) != (OSXSAVE | AVX)) return SIMD_SSE2;
  unsigned xcr0Low, xcr0High;
  __asm__("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
  if ((xcr0Low & 6) != 6) return SIMD_SSE2;  // XMM and YMM state saved by the system
  if (__get_cpuid_max(0, nullptr) < 7) return SIMD_SSE2;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  return (ebx & (1u << 5)) != 0 ? SIMD_AVX2 : SIMD_SSE2;
#elif defined(__SSE2__)
  return SIMD_SSE2;
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
  SimdLevel level = static_cast<SimdLevel>(known - 1);
  return level < g_jpegSimdLimit ? level : g_jpegSimdLimit;
}
