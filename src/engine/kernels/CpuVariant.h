// The instruction sets that the hand-written kernels have variants for, and
// which of them each kernel file runs. Each file picks its variant once,
// when the module loads, from what the processor supports; tests may force
// another (never one the processor lacks) to check every variant against
// the per-pixel models on the same machine. All variants give the same
// bytes.
#pragma once

#include <cstdint>
#include <string>

namespace lustra {

enum class CpuVariant : int32_t { kBaseline = 0, kAvx2 = 1, kAvx512 = 2 };

// The widest variant that this build has and this processor runs.
CpuVariant detectedCpuVariant();

// "baseline", "avx2" or "avx512".
const char *cpuVariantName(CpuVariant variant);

// The variant each kernel file runs, one "name=variant" per file separated
// by spaces; the auto-vectorised kernels (LUSTRA_VECTOR_CLONES) are listed
// as "clones", picked by the loader the same way; the final shading's
// entry names both its hand-written kernels' variant and its clones.
std::string kernelVariantReport();

namespace bevelKernels {
// The variant of the bevel stage's stamping and of its smoothing's column and
// row passes.
CpuVariant variant();
// Forces a variant (for tests); one the processor lacks is lowered to the
// widest it runs. Returns the variant now in use.
CpuVariant selectVariant(CpuVariant wanted);
} // namespace bevelKernels

namespace rowPasses {
// The variant of the glow and shadow blurs' column and row passes
// (engine/RowPasses.h); selectVariant as for the bevel.
CpuVariant variant();
CpuVariant selectVariant(CpuVariant wanted);
} // namespace rowPasses

namespace shadingKernels {
// The variant of the final shading's plain background, light lobe and glow
// (the other row kernels are auto-vectorised clones); selectVariant as for
// the bevel.
CpuVariant variant();
CpuVariant selectVariant(CpuVariant wanted);
} // namespace shadingKernels

namespace textureKernels {
// The variant of the surface textures' running texel sums, filtered
// rows, stretches, unit texels and row writes (the other row kernels are
// auto-vectorised clones): AVX-512 with its byte permutes, or the portable
// one; selectVariant as for the bevel (AVX2 is lowered to the portable
// variant).
CpuVariant variant();
CpuVariant selectVariant(CpuVariant wanted);
} // namespace textureKernels

} // namespace lustra
