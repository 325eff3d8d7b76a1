// How a test expects a refusal: one call that must raise a given error class with a given
// reason (and, where the test says, a given message), and how it reports an error it did not
// expect: the class, the message and the reason, so a failure names the rule that refused and not
// only the fixed text the user sees.
#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>

#include "Exceptions.h"
#include "Limits.h"

namespace penamo::test {

inline std::string Describe(const Exception& error) {
  return std::string(error.ClassName()) + ": " + error.Message() + " [" + error.Reason() + "]";
}

// Every refusal names the rule that refused: its reason is never empty.
inline void ExpectSomeReason(const Exception& error) {
  EXPECT_FALSE(error.Reason().empty()) << "a refusal without its reason: " << Describe(error);
}

// A refusal of a bitmap file: one of the reader's three named errors, with that error's message
// and a reason. Anything else fails the test. True for one of the three.
inline bool ExpectBitmapRefusal(const Exception& error) {
  if (dynamic_cast<const EReadError*>(&error) != nullptr) {
    EXPECT_EQ(error.Message(), Msg::ReadError);
  } else if (dynamic_cast<const EClaimBeyondData*>(&error) != nullptr) {
    EXPECT_EQ(error.Reason(), "bitmap-claims-more-than-data");
  } else if (dynamic_cast<const EInvalidGraphic*>(&error) != nullptr) {
    EXPECT_EQ(error.Message(), Msg::InvalidBitmap);
  } else if (dynamic_cast<const EOutOfResources*>(&error) != nullptr) {
    EXPECT_EQ(error.Message(), Msg::OutOfResources);
  } else {
    ADD_FAILURE() << "refused with an error of another kind: " << Describe(error);
    return false;
  }
  ExpectSomeReason(error);
  return true;
}

// What a refusal raised, for checks beyond class, reason and message.
struct TRaised {
  std::string ClassName;
  std::string Message;
  std::string Reason;
  int SystemError = 0;
  std::exception_ptr Error;  // the error itself

  // The error as T (its class or a base of it), or null when it is of no such class; valid as
  // long as this is.
  template <class T>
  const T* As() const {
    try {
      std::rethrow_exception(Error);
    } catch (const T& error) {
      return &error;
    } catch (...) {
    }
    return nullptr;
  }
};

// Reasons ExpectRefusal takes beside an exact one: any reason at all, or any but none.
inline constexpr std::string_view kAnyReason = "\x01(any reason)";
inline constexpr std::string_view kSomeReason = "\x01(some reason)";

// Runs call, which must raise E (or a class derived from it, as catching E takes) with that
// reason and, when one is given, that message. Returning, or raising anything else, fails the
// test at the caller's line. Returns what was raised, or nothing when E was not.
template <class E, class Call>
std::optional<TRaised> ExpectRefusal(Call&& call, std::string_view reason,
                                     std::optional<std::string_view> message = std::nullopt,
                                     std::source_location where = std::source_location::current()) {
  const ::testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()),
                                     "refusal expected here");
  // The class's own name where one can be made without a claim (EClaimBeyondData needs one).
  std::string expected;
  if constexpr (std::is_constructible_v<E, std::string>)
    expected = E("").ClassName();
  else
    expected = typeid(E).name();
  try {
    call();
  } catch (const Exception& raised) {
    const E* error = dynamic_cast<const E*>(&raised);
    if (error == nullptr) {
      ADD_FAILURE() << "expected " << expected << ", refused with " << Describe(raised);
      return std::nullopt;
    }
    if (reason == kSomeReason) {
      ExpectSomeReason(raised);
    } else if (reason != kAnyReason) {
      EXPECT_EQ(error->Reason(), reason) << Describe(raised);
    }
    if (message) {
      EXPECT_EQ(error->Message(), *message) << Describe(raised);
    }
    return TRaised{raised.ClassName(), raised.Message(), raised.Reason(), raised.SystemError(),
                   std::current_exception()};
  }
  ADD_FAILURE() << "expected " << expected << ", but nothing was refused";
  return std::nullopt;
}

}  // namespace penamo::test
