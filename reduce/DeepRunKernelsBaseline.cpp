// The run kernels for any x86-64.
#include "DeepArithmetic.h"
#include "DeepRunKernels.h"

#define PENAMO_DEEP_RUN_NAMESPACE deep_run_baseline
#define PENAMO_DEEP_RUN_NAME "baseline"
#include "DeepRunKernels.inl"

namespace penamo {

const TDeepRunKernels& BestDeepRunKernels() {
  __builtin_cpu_init();
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2 ? deep_run_avx2::kDeepRunKernels : deep_run_baseline::kDeepRunKernels;
}

}  // namespace penamo
