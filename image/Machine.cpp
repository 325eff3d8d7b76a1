#include "Machine.h"

#include <algorithm>
#include <thread>

namespace penamo {

int UsableCores() {
  // hardware_concurrency() is 0 when the count cannot be told.
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

}  // namespace penamo
