// Which kernel a stage runs: the scalar loop or its AVX2 twin, chosen here and nowhere else. The
// processor is asked once (library start-up asks first); both kernels of a pair give the same
// bytes, so the choice changes speed only.
#ifndef QURO_CPU_H
#define QURO_CPU_H

namespace quro {

// automatic: the AVX2 kernel when the processor runs AVX2 code, else the scalar one (every search
// and creation takes this). vector: the same, asked for by name (tests and benchmarks force one
// kernel). scalar: never the AVX2 kernel.
enum class KernelPath { automatic, scalar, vector };

// True when the processor runs AVX2 code and OpenCV has not been told to avoid it
// (OPENCV_CPU_DISABLE); found on the first call, thread-safe.
bool cpu_has_avx2();

// Whether a stage asked to run `path` takes its AVX2 kernel.
bool use_avx2(KernelPath path);

}  // namespace quro

#endif  // QURO_CPU_H
