// What the machine gives the program, asked for in one place by every layer: memory, whose
// refusal becomes the program's own EOutOfMemory, the number of cores, and the instructions
// that the vector loops need.
#pragma once

#include <new>
#include <type_traits>
#include <utility>

#include "Exceptions.h"

namespace penamo {

// Runs allocate and returns what it returns. A std::bad_alloc from it is raised as
// EOutOfMemory(Msg::OutOfMemory, reason), so a refused allocation reaches the user in the same
// words wherever it happens; every other error passes through unchanged. What allocate
// changed before running out is for it to leave sound (a std::vector's resize leaves the vector
// as it was).
template <class Allocate>
decltype(auto) WithMemory(const char* reason, Allocate&& allocate) {
  try {
    return std::forward<Allocate>(allocate)();
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory(Msg::OutOfMemory, reason);
  }
}

// The cores this process may run on (its CPU affinity, as `taskset` or a cpuset sets it), at
// least 1 even where the count is unknown. Every layer splits its work by this count.
int UsableCores();

// Whether the processor has SSSE3's byte shuffles and AVX2, asked once a process: the loops
// compiled for them are run only where these say so.
bool HasByteShuffles();
bool HasAvx2();

}  // namespace penamo
