// The two clocks the format benches print: wall milliseconds, and CPU milliseconds of the whole
// process (every thread), so that work a save moves to other threads still counts.
#pragma once

#include <time.h>

#include <chrono>

namespace penamo::bench {

inline double Now() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

inline double Cpu() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

}  // namespace penamo::bench
