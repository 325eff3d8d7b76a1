// Every failure of every call becomes a status here, in one table, with the words the command
// line prints for it; nothing raised inside the library leaves it.

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <typeinfo>

#include "Context.h"
#include "FailureCause.h"
#include "Limits.h"

namespace penamo::capi {

namespace {

// The status of each error class, the most derived classes first: the first row whose class
// the error is of gives its status.
template <class Error>
bool IsA(const Exception& error) {
  return dynamic_cast<const Error*>(&error) != nullptr;
}

struct TStatusRow {
  bool (*Matches)(const Exception&);
  penamo_status Status;
};

constexpr TStatusRow kStatusTable[] = {
    {IsA<EInvalidArgument>, PENAMO_INVALID_ARGUMENT},
    {IsA<ECancelled>, PENAMO_CANCELLED},
    {IsA<EClaimBeyondData>, PENAMO_TOO_LARGE},
    // A picture whose storage would pass the storage limit.
    {IsA<EOutOfResources>, PENAMO_TOO_LARGE},
    {IsA<EOutOfMemory>, PENAMO_OUT_OF_MEMORY},
    {IsA<EUnsupportedGraphic>, PENAMO_UNSUPPORTED},
    {IsA<EFCreateError>, PENAMO_WRITE_ERROR},
    {IsA<EWriteError>, PENAMO_WRITE_ERROR},
    {IsA<EStreamError>, PENAMO_READ_ERROR},
    // A picture too large for a bitmap file's size fields: refused before any file is made.
    {[](const Exception& e) { return e.Reason() == "bitmap-over-4-gib"; }, PENAMO_TOO_LARGE},
    {IsA<EInvalidGraphic>, PENAMO_READ_ERROR},
    {[](const Exception& e) { return e.Reason() == "empty-picture"; }, PENAMO_READ_ERROR},
    {[](const Exception& e) { return e.Reason() == "filter-failed"; }, PENAMO_REFUSED},
};

penamo_status StatusOf(const Exception& error) {
  for (const TStatusRow& row : kStatusTable)
    if (row.Matches(error)) return row.Status;
  return PENAMO_INTERNAL_ERROR;
}

void Store(penamo_context* context, const std::string& message, std::string reason,
           std::string cause, std::string className) {
  if (context == nullptr) return;
  context->Message = MessageWithFullStop(message);
  context->Reason = std::move(reason);
  context->Cause = std::move(cause);
  context->ClassName = std::move(className);
}

}  // namespace

ECancelled::ECancelled() : EAbort("処理を中止しました", "cancelled") {}

void RaiseInvalid(const std::string& message, const std::string& reason) {
  throw EInvalidArgument(message, reason);
}

void RaiseRefused(const TFilterEntry& filter) {
  throw Exception(std::string(filter.Caption) + "を実行できませんでした", "filter-failed");
}

void RequireNotNull(const void* pointer, const char* what) {
  if (pointer == nullptr)
    RaiseInvalid(std::string(what) + " が NULL です", std::string("null-") + what);
}

TBandOptions BandOptionsOf(const penamo_context& context) {
  TBandOptions options;
  options.Parts = context.Threads;
  options.WriteAside = context.Threads != 1;
  return options;
}

void ReportProgress(const penamo_context& context, double fraction) {
  if (context.Progress != nullptr && context.Progress(context.ProgressUser, fraction) != 0)
    throw ECancelled();
}

void ReportDone(const penamo_context& context) noexcept {
  if (context.Progress != nullptr) context.Progress(context.ProgressUser, 1.0);
}

void Succeed(penamo_context* context) noexcept {
  if (context == nullptr) return;
  context->Message.clear();
  context->Reason.clear();
  context->Cause.clear();
  context->ClassName.clear();
}

penamo_status FailWithCurrent(penamo_context* context, const std::string& input,
                              const std::string& output) noexcept {
  try {
    try {
      throw;
    } catch (const Exception& error) {
      // The file the error concerns, as penamo-filter names it.
      const std::string& path = IsWriteFailure(error) || input.empty() ? output : input;
      Store(context, error.Message(), error.Reason(),
            path.empty() ? std::string() : FailureCauseLine(error, path), error.ClassName());
      return StatusOf(error);
    } catch (const std::bad_alloc&) {
      Store(context, Msg::OutOfMemory, "out-of-memory", {}, "std::bad_alloc");
      return PENAMO_OUT_OF_MEMORY;
    } catch (const std::exception& error) {
      // Not one of ours, but still a message rather than an abort.
      Store(context, error.what(), "unexpected", {}, "std::exception");
      return PENAMO_INTERNAL_ERROR;
    } catch (...) {
      Store(context, "予期しないエラーが起きました", "unexpected", {}, "unknown");
      return PENAMO_INTERNAL_ERROR;
    }
  } catch (...) {
    // Storing the words ran out of memory: the status alone is told.
    if (context != nullptr) Succeed(context);
    return PENAMO_OUT_OF_MEMORY;
  }
}

}  // namespace penamo::capi

extern "C" __attribute__((visibility("default"))) size_t penamo_system_cause(int error, char* text,
                                                                             size_t size) {
  try {
    const std::string cause = penamo::CauseOf(error);
    if (text != nullptr && size > 0) {
      const std::size_t length = std::min(cause.size(), size - 1);
      std::memcpy(text, cause.data(), length);
      text[length] = '\0';
    }
    return cause.size();
  } catch (...) {
    if (text != nullptr && size > 0) text[0] = '\0';
    return 0;
  }
}
