// See CpuVariant.h.
#include "engine/kernels/CpuVariant.h"

namespace lustra {

CpuVariant detectedCpuVariant() {
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__)
    // May run from static initialisers, before the loader's own set-up.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl"))
        return CpuVariant::kAvx512;
    if (__builtin_cpu_supports("avx2")) return CpuVariant::kAvx2;
#endif
    return CpuVariant::kBaseline;
}

const char *cpuVariantName(CpuVariant variant) {
    switch (variant) {
    case CpuVariant::kAvx512:
        return "avx512";
    case CpuVariant::kAvx2:
        return "avx2";
    default:
        return "baseline";
    }
}

std::string kernelVariantReport() {
    std::string clones = "baseline";
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__)
    // The order in which the loader tries the clones' targets.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f"))
        clones = "avx512f";
    else if (__builtin_cpu_supports("avx2"))
        clones = "avx2";
#endif
    return std::string("bevel=") + cpuVariantName(bevelKernels::variant()) +
           " glow-shadow-blur=" + cpuVariantName(rowPasses::variant()) +
           " final-shading=" + cpuVariantName(shadingKernels::variant()) + "+" + clones +
           " textures=" + cpuVariantName(textureKernels::variant()) + "+" + clones +
           " clones=" + clones;
}

} // namespace lustra
