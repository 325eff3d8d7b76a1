#include "BoundedReader.h"

#include <gtest/gtest.h>

#include "Exceptions.h"
#include "ExpectRefusal.h"

namespace penamo {
namespace {

using test::ExpectRefusal;

using TBytes = std::vector<std::uint8_t>;

// Raises the read error, and with it the reason the caller gave.
template <class F>
void ExpectShortRead(F action, const char* reason) {
  ExpectRefusal<EReadError>([&] { action(); }, reason, Msg::ReadError);
}

TEST(BoundedReader, CountsFromTheStreamsPositionAndDownWithEveryReadAndSkip) {
  TMemoryStream stream(TBytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  stream.Seek(2, TSeekOrigin::Beginning);
  TBoundedReader reader(stream);
  EXPECT_EQ(reader.Remaining(), 8u);
  std::uint8_t bytes[3] = {};
  reader.Read(bytes, 3, "first");
  EXPECT_EQ(bytes[0], 3);
  EXPECT_EQ(bytes[2], 5);
  reader.Skip(2, "skip");
  EXPECT_EQ(reader.Remaining(), 3u);
  reader.Read(bytes, 3, "last");
  EXPECT_EQ(bytes[0], 8);
  EXPECT_EQ(reader.Remaining(), 0u);
  reader.Read(bytes, 0, "nothing");  // a count of 0 always succeeds
}

TEST(BoundedReader, AReadOrSkipPastTheEndRaisesItsReasonAndTakesNothing) {
  TMemoryStream stream(TBytes{1, 2, 3, 4});
  TBoundedReader reader(stream);
  std::uint8_t bytes[8] = {};
  ExpectShortRead([&] { reader.Read(bytes, 5, "masks-truncated"); }, "masks-truncated");
  ExpectShortRead([&] { reader.Skip(5, "long-header-truncated"); }, "long-header-truncated");
  EXPECT_EQ(reader.Remaining(), 4u);
  EXPECT_EQ(stream.Position(), 0);
}

// A stream that measures more than it delivers: a file cut short while it is read.
class TShrinkingStream : public TMemoryStream {
 public:
  using TMemoryStream::TMemoryStream;
  std::int64_t Read(void* buffer, std::int64_t count) override {
    return TMemoryStream::Read(buffer, count) / 2;
  }
};

TEST(BoundedReader, AStreamThatDeliversLessThanItMeasuredRaisesTheReadError) {
  TShrinkingStream stream(TBytes(10, 0));
  TBoundedReader reader(stream);
  std::uint8_t bytes[4] = {};
  ExpectShortRead([&] { reader.Read(bytes, 4, "pixels-truncated"); }, "pixels-truncated");
}

}  // namespace
}  // namespace penamo
