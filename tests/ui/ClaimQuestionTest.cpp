// The window's hook for a file that claims far more pixels than it holds: asked with the claim,
// read again with the rule lifted only on yes, the rule back in force afterwards.
#include "ClaimQuestion.h"

#include <gtest/gtest.h>

#include <string>

#include "ExpectRefusal.h"

namespace penamo {
namespace {

TEST(ClaimQuestion, TheFileIsReadAgainOnlyWhenTheUserSaysYes) {
  for (const bool yes : {false, true}) {
    SCOPED_TRACE(yes ? "yes" : "no");
    int runs = 0, reads = 0;
    TClaim asked;
    const auto run = [&](const std::function<void()>& work) {
      ++runs;
      work();
    };
    const auto read = [&] {
      CheckClaim(30000, 30000, 54, 1, "test-claim");
      ++reads;
    };
    const auto ask = [&](const TClaim& claim) {
      asked = claim;
      return yes;
    };
    if (yes) {
      ReadAskingOverClaims(run, read, ask);
    } else {
      test::ExpectRefusal<EAbort>([&] { ReadAskingOverClaims(run, read, ask); }, test::kAnyReason);
    }
    EXPECT_EQ(asked.Width, 30000);
    EXPECT_EQ(asked.FileBytes, 54u);
    EXPECT_EQ(runs, yes ? 2 : 1);
    EXPECT_EQ(reads, yes ? 1 : 0);
    EXPECT_FALSE(ClaimRuleLifted());
  }
}

TEST(ClaimQuestion, OtherRefusalsAreNotQuestions) {
  bool asked = false;
  test::ExpectRefusal<EReadError>(
      [&] {
        ReadAskingOverClaims([](const std::function<void()>& work) { work(); },
                             [] { throw EReadError("x", "y"); },
                             [&](const TClaim&) { return asked = true; });
      },
      test::kAnyReason);
  EXPECT_FALSE(asked);
}

}  // namespace
}  // namespace penamo
