// The one place a refused allocation becomes the program's own error, and the core count.
#include "Machine.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <memory>
#include <stdexcept>
#include <thread>

#include "ExpectRefusal.h"

namespace penamo {
namespace {

TEST(WithMemory, ARefusedAllocationRaisesOutOfMemoryWithTheSitesReason) {
  const auto raised = test::ExpectRefusal<EOutOfMemory>(
      [] { WithMemory("band-allocation-failed", []() -> int { throw std::bad_alloc(); }); },
      "band-allocation-failed", "メモリが足りません");
  ASSERT_TRUE(raised) << "the refusal was swallowed";
  EXPECT_EQ(raised->ClassName, "EOutOfMemory");
  // Any kind of refused allocation, an array's length among them.
  test::ExpectRefusal<EOutOfMemory>(
      [] { WithMemory("rows", [] { throw std::bad_array_new_length(); }); }, test::kAnyReason);
}

TEST(WithMemory, OtherErrorsPassThroughAndResultsComeBackUnchanged) {
  test::ExpectRefusal<EReadError>(
      [] { WithMemory("x", []() -> int { throw EReadError(Msg::ReadError, "r"); }); }, "r");
  EXPECT_THROW(WithMemory("x", [] { throw std::length_error("l"); }), std::length_error);
  // Moved out, not copied: a result that cannot be copied comes back whole.
  const std::unique_ptr<int> made = WithMemory("x", [] { return std::make_unique<int>(7); });
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(*made, 7);
  int value = 1;
  int& same = WithMemory("x", [&]() -> int& { return value; });
  EXPECT_EQ(&same, &value) << "a reference stays a reference";
}

TEST(UsableCores, AtLeastOneWhateverTheMachineSays) {
  EXPECT_GE(UsableCores(), 1);
}

// Under `taskset -c 0` a thread pool sized by the machine's cores would only take turns on the
// one core the process may use. The affinity is the calling thread's, so a thread of the test's
// own is narrowed and asked.
TEST(UsableCores, FollowsTheCpuAffinityNotTheMachinesCoreCount) {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
  EXPECT_EQ(UsableCores(), CPU_COUNT(&allowed));
  int first = 0;
  while (!CPU_ISSET(first, &allowed))
    ++first;
  int narrowed = 0;
  std::thread([&] {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    if (sched_setaffinity(0, sizeof one, &one) == 0) narrowed = UsableCores();
  }).join();
  EXPECT_EQ(narrowed, 1);
}

}  // namespace
}  // namespace penamo
