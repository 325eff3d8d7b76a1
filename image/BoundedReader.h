// Reading a file's bytes against its real length. The length is measured once, at the start;
// every read and skip counts what it took, so what remains is always known and no size a
// header claims can make a read reach past the end.
#pragma once

#include <cstdint>

#include "Stream.h"

namespace penamo {

class TBoundedReader {
 public:
  // Measures the stream from its position to its end. Raises EReadError when it cannot.
  explicit TBoundedReader(TStream& stream);

  // The bytes between the position and the end measured at the start.
  std::uint64_t Remaining() const { return FRemaining; }

  // Exactly count bytes into buffer, or EReadError carrying reason when the stream holds fewer.
  void Read(void* buffer, std::uint64_t count, const char* reason);
  // Passes over count bytes, or raises EReadError carrying reason when fewer are left.
  void Skip(std::uint64_t count, const char* reason);

 private:
  TStream& FStream;
  std::uint64_t FRemaining = 0;
};

}  // namespace penamo
