#include "BoundedReader.h"

#include "Exceptions.h"

namespace penamo {

namespace {

[[noreturn]] void RaiseShortRead(const char* reason) {
  throw EReadError(Msg::ReadError, reason);
}

}  // namespace

TBoundedReader::TBoundedReader(TStream& stream) : FStream(stream) {
  // 64 bits: a file of 4 GiB or more is measured as it is, never wrapped round to a small size.
  const std::int64_t position = stream.Position();
  const std::int64_t size = stream.Size();
  if (position < 0 || size < 0) RaiseShortRead("stream-not-measurable");
  FRemaining = size > position ? static_cast<std::uint64_t>(size - position) : 0;
}

void TBoundedReader::Read(void* buffer, std::uint64_t count, const char* reason) {
  if (count == 0) return;
  if (count > FRemaining) RaiseShortRead(reason);
  const auto wanted = static_cast<std::int64_t>(count);
  // The stream may still deliver less than it measured (a file cut short while it is read).
  if (FStream.Read(buffer, wanted) != wanted) RaiseShortRead(reason);
  FRemaining -= count;
}

void TBoundedReader::Skip(std::uint64_t count, const char* reason) {
  if (count == 0) return;
  if (count > FRemaining) RaiseShortRead(reason);
  const auto wanted = static_cast<std::int64_t>(count);
  const std::int64_t start = FStream.Position();
  if (start < 0 || FStream.Seek(wanted, TSeekOrigin::Current) != start + wanted)
    RaiseShortRead(reason);
  FRemaining -= count;
}

}  // namespace penamo
