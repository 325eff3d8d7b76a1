// What every fuzz target shares: a finding is an abort with a line saying what went wrong, and
// a refusal the program is allowed to make (one of its named read errors) is no finding.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "Exceptions.h"

namespace penamo::fuzz {

// Aborts with the reason when the condition does not hold; libFuzzer keeps the input.
inline void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "FINDING: %s\n", what);
  std::abort();
}

// An error the caller did not allow: print its class, its reason and its message, then abort.
[[noreturn]] inline void ReportUnexpected(const std::exception& error) {
  if (const auto* ours = dynamic_cast<const Exception*>(&error)) {
    std::fprintf(stderr, "FINDING: unexpected %s (reason \"%s\"): %s\n", ours->ClassName(),
                 ours->Reason().c_str(), ours->Message().c_str());
  } else {
    std::fprintf(stderr, "FINDING: unexpected exception: %s\n", error.what());
  }
  std::abort();
}

// With PENAMO_FUZZ_VERBOSE set, every allowed refusal prints its reason: useful when replaying
// one input by hand, too slow for a fuzzing run.
inline void NoteRefusal(const Exception& error) {
  static const bool verbose = std::getenv("PENAMO_FUZZ_VERBOSE") != nullptr;
  if (verbose)
    std::fprintf(stderr, "refused: %s (reason \"%s\")\n", error.ClassName(),
                 error.Reason().c_str());
}

// Runs read, which reads a picture file. A refusal the readers may make (EReadError,
// EInvalidGraphic, or EOutOfMemory and so EOutOfResources, for a picture over the limit) is noted
// and makes this return true, with "class: message (reason)" in refusal when asked for, so that
// two reads compared by it must end with the same reason too; any other error
// is a finding. False when read returned.
template <typename Read>
bool Refused(Read read, std::string* refusal = nullptr) {
  const auto refuse = [&](const Exception& error) {
    NoteRefusal(error);
    if (refusal != nullptr)
      *refusal =
          std::string(error.ClassName()) + ": " + error.Message() + " (" + error.Reason() + ")";
    return true;
  };
  try {
    read();
  } catch (const EReadError& error) {
    return refuse(error);
  } catch (const EInvalidGraphic& error) {
    return refuse(error);
  } catch (const EOutOfMemory& error) {
    return refuse(error);
  } catch (const std::exception& error) {
    ReportUnexpected(error);
  }
  return false;
}

// A cheap sum over a block, so that every byte of it is read (the sanitizers see any byte that
// lies outside its allocation) and the reading cannot be optimised away.
inline std::uint32_t TouchBytes(const std::uint8_t* bytes, std::size_t count) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < count; ++i)
    sum = sum * 31 + bytes[i];
  return sum;
}

}  // namespace penamo::fuzz
