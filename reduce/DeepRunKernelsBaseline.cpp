// The run kernels for any x86-64.
#include "DeepArithmetic.h"
#include "DeepRunKernels.h"
#include "Machine.h"

#define PENAMO_DEEP_RUN_NAMESPACE deep_run_baseline
#define PENAMO_DEEP_RUN_NAME "baseline"
#include "DeepRunKernels.inl"

namespace penamo {

const TDeepRunKernels& BestDeepRunKernels() {
  return HasAvx2() ? deep_run_avx2::kDeepRunKernels : deep_run_baseline::kDeepRunKernels;
}

}  // namespace penamo
