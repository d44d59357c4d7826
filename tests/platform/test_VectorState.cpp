// Vector code that leaves the upper halves of the vector registers in use, then the helper: the
// processor itself says which of its register states are in use (XGETBV with ECX = 1).
#include <gtest/gtest.h>

#include "platform/VectorState.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>

namespace {

bool CanTellUpperHalvesInUse()
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __builtin_cpu_supports("avx") && __get_cpuid_count(0xD, 1, &eax, &ebx, &ecx, &edx) && (eax & 4) != 0;
}

bool UpperHalvesInUse()
{
    unsigned low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(1));
    return (low & 4) != 0;
}

TEST(VectorState, ClearsUpperHalvesLeftInUse)
{
    if (!CanTellUpperHalvesInUse()) GTEST_SKIP() << "no AVX, or the processor cannot tell";
    __asm__ volatile("vpcmpeqd %%ymm0, %%ymm0, %%ymm0" ::: "xmm0");
    const bool before = UpperHalvesInUse();
    ClearUpperVectorState();
    const bool after = UpperHalvesInUse();
    EXPECT_TRUE(before);
    EXPECT_FALSE(after);
}

}  // namespace
#endif
