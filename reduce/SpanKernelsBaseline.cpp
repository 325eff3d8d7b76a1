// The span loops for any x86-64.
#include <cstring>

#include "Coefficients.h"
#include "SpanKernels.h"

#define PENAMO_SPAN_NAMESPACE span_baseline
#define PENAMO_SPAN_NAME "baseline"
#include "SpanKernels.inl"
