#include "platform/VectorState.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

void ClearUpperVectorState()
{
    // AVX present and its registers saved by the system; asked once.
    static const bool avx = (__builtin_cpu_init(), __builtin_cpu_supports("avx"));
    // The registers are named as changed so that no caller keeps a whole vector across the call.
    if (avx)
        __asm__ volatile("vzeroupper" ::
                             : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10",
                               "xmm11", "xmm12", "xmm13", "xmm14", "xmm15");
}

#else

void ClearUpperVectorState() {}

#endif
