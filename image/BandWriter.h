// Writing a picture's rows in bands, top row first, so that a save never holds the whole output
// picture: a filter fills one small buffer with a band of rows, the writer stores it, and the
// buffer is reused for the next band. Every file format's writer takes its rows this way.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Interface.h"

namespace penamo {

class TBandWriter : public TInterface {
 public:
  // Rows first .. first + count - 1 of the picture (row 0 is the top row), each Width 24-bit
  // pixels (blue, green, red), the first at rows and each next one stride bytes further on.
  // Bands arrive in order, top to bottom, and together cover every row exactly once. Raises
  // EWriteError (or another EStreamError) when the bytes cannot be written.
  virtual void WriteBand(std::int32_t first, std::int32_t count, const std::uint8_t* rows,
                         std::size_t stride) = 0;

  // After the last band: makes the file complete and durable and puts it in the target's
  // place. A writer destroyed without Commit leaves the target as it was and no file behind.
  virtual void Commit() = 0;

  // Threads of the writer's own that keep cores busy while the bands are written (a PNG writer
  // deflates every band on them), so that the filter can leave them room.
  virtual int BusyThreads() const { return 0; }
};

}  // namespace penamo
