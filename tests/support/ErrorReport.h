// How a test reports an error it did not expect: the class, the message and the reason, so a
// failure names the rule that refused a file and not only the fixed text the user sees.
#pragma once

#include <string>

#include "Exceptions.h"

namespace penamo::test {

inline std::string Describe(const Exception& error) {
  return std::string(error.ClassName()) + ": " + error.Message() + " [" + error.Reason() + "]";
}

}  // namespace penamo::test
