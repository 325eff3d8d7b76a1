// What the library's calls share: the context behind penamo_context (options, the last failure,
// the progress callback) and the one place where every failure becomes a status.
#pragma once

#include <cstdint>
#include <string>

#include "BandFilter.h"
#include "DeepLevels.h"
#include "Exceptions.h"
#include "FilterTable.h"
#include "Limits.h"
#include "penamo.h"

struct penamo_context {
  // Null: the unfiltered copy ("none").
  const penamo::TFilterEntry* Filter = nullptr;
  int Strength = penamo::kFullStrength;
  penamo::TDeepOptions Deep;
  bool Strip = false;
  int Threads = 0;
  bool Trusted = false;
  penamo_progress_fn Progress = nullptr;
  void* ProgressUser = nullptr;
  // The last failure; all empty after a success.
  std::string Message;
  std::string Reason;
  std::string Cause;
  std::string ClassName;
};

namespace penamo::capi {

// A caller's mistake: a null pointer, an option out of range, a buffer that does not fit.
class EInvalidArgument : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EInvalidArgument"; }
};

// The progress callback asked to stop.
class ECancelled : public EAbort {
 public:
  ECancelled();
  const char* ClassName() const noexcept override { return "EAbort"; }
};

[[noreturn]] void RaiseInvalid(const std::string& message, const std::string& reason);
// The filter refused the picture with these options (as penamo-filter says it).
[[noreturn]] void RaiseRefused(const TFilterEntry& filter);
// Raises EInvalidArgument naming `what` when pointer is null.
void RequireNotNull(const void* pointer, const char* what);

// The band options of the context's thread setting: its parts, and no writing thread beside
// the caller's when it asks for the calling thread alone.
TBandOptions BandOptionsOf(const penamo_context& context);

// Tells the progress callback the fraction done; raises ECancelled when it asks to stop.
void ReportProgress(const penamo_context& context, double fraction);
// Tells the progress callback the work is done (1); too late to cancel, so its answer is not
// asked: a file already committed stays, and the call succeeds.
void ReportDone(const penamo_context& context) noexcept;

// The status of the error being handled (called from a catch block) after storing its words in
// context (which may be null).
penamo_status FailWithCurrent(penamo_context* context, const std::string& input,
                              const std::string& output) noexcept;
void Succeed(penamo_context* context) noexcept;

// Runs work for context under its claim rule and returns PENAMO_OK, or turns whatever it raised
// into the status, message, reason, cause and class held by the context. The cause names input,
// or output for an error in writing (either may be empty when the call has no such file).
template <class Work>
penamo_status Guarded(penamo_context* context, const std::string& input, const std::string& output,
                      Work&& work) {
  try {
    if (context == nullptr) RaiseInvalid("コンテキストが NULL です", "null-context");
    const TClaimRuleScope rule(context->Trusted);
    work();
    Succeed(context);
    return PENAMO_OK;
  } catch (...) {
    return FailWithCurrent(context, input, output);
  }
}

}  // namespace penamo::capi
