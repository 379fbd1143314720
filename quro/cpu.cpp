#include "quro/cpu.h"

#include <opencv2/core.hpp>

namespace quro {

bool cpu_has_avx2() {
    static const bool avx2 = cv::checkHardwareSupport(CV_CPU_AVX2);
    return avx2;
}

bool use_avx2(KernelPath path) {
    return path != KernelPath::scalar && cpu_has_avx2();
}

}  // namespace quro
