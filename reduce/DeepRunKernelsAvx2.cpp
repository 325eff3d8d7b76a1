// The run kernels compiled for AVX2 (see reduce/CMakeLists.txt); used only where the processor
// has it.
#include "DeepArithmetic.h"
#include "DeepRunKernels.h"

#define PENAMO_DEEP_RUN_NAMESPACE deep_run_avx2
#define PENAMO_DEEP_RUN_NAME "avx2"
#include "DeepRunKernels.inl"
