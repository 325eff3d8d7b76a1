// The span loops compiled for AVX2 (see reduce/CMakeLists.txt); used only where the processor
// has it.
#include <cstring>

#include "Coefficients.h"
#include "SpanKernels.h"

#define PENAMO_SPAN_NAMESPACE span_avx2
#define PENAMO_SPAN_NAME "avx2"
#include "SpanKernels.inl"
