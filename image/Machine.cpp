#include "Machine.h"

#include <sched.h>

#include <algorithm>
#include <thread>

namespace penamo {

int UsableCores() {
  // The cores this process may run on, which `taskset`, a container's cpuset or a job
  // scheduler can make fewer than the machine has: threads beyond them would only take turns.
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
    const int count = CPU_COUNT(&allowed);
    if (count > 0) return count;
  }
  // hardware_concurrency() is 0 when the count cannot be told.
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

bool HasByteShuffles() {
  static const bool shuffles = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
  }();
  return shuffles;
}

bool HasAvx2() {
  static const bool avx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return avx2;
}

}  // namespace penamo
