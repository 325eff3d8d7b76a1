#include <gtest/gtest.h>

#include "Exceptions.h"

namespace penamo {
namespace {

// The rule both the window's boxes and penamo-filter follow.
TEST(MessageWithFullStop, AddsAStopAfterACharacterThatSortsAfterTheStopOnly) {
  EXPECT_EQ(MessageWithFullStop(""), "");
  EXPECT_EQ(MessageWithFullStop("abc"), "abc.");
  EXPECT_EQ(MessageWithFullStop("abc."), "abc.");
  EXPECT_EQ(MessageWithFullStop("(1)"), "(1)") << "')' sorts before '.'";
  EXPECT_EQ(MessageWithFullStop("abc/"), "abc/.");
  EXPECT_EQ(MessageWithFullStop(Msg::ReadError), std::string(Msg::ReadError) + ".");
}

}  // namespace
}  // namespace penamo
