#include "SharedImage.h"

namespace penamo {

std::mutex& SharedImageLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace penamo
