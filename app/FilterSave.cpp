#include "FilterSave.h"

namespace penamo {
namespace {

// The lines that tell the user why the save failed, each ending in a line break: the message
// in the window's words, the system's cause when a call failed, and with verbose the error's
// class and reason, all as the library holds them in context after the failure.
std::string FailureLines(const penamo_context& context, bool verbose) {
  std::string lines = std::string(penamo_message(&context)) + '\n';
  if (const std::string cause = penamo_cause(&context); !cause.empty()) lines += cause + '\n';
  if (verbose)
    lines += std::string(penamo_error_class(&context)) + ": " + penamo_reason(&context) + '\n';
  return lines;
}

// What is said when not even a context can be had.
constexpr const char* kOutOfMemoryLine = "メモリが足りません.\n";

}  // namespace

TContext NewContext(const TSettings& settings) {
  TContext context(penamo_context_new());
  if (!context) return context;
  // The options were checked on the command line: every setting is in range.
  penamo_set_filter(context.get(), settings.FilterName.c_str());
  penamo_set_strength(context.get(), settings.Strength);
  penamo_set_levels(context.get(), settings.Levels);
  penamo_set_grey(context.get(), settings.Grey ? 1 : 0);
  penamo_set_light(context.get(), settings.Light);
  penamo_set_strip(context.get(), settings.Strip ? 1 : 0);
  penamo_set_trusted_input(context.get(), settings.Trusted ? 1 : 0);
  return context;
}

std::optional<std::string> Save(penamo_context* context, const std::string& input,
                                const std::string& output, penamo_format format, bool verbose) {
  if (context == nullptr) return kOutOfMemoryLine;
  if (penamo_filter_file(context, input.c_str(), output.c_str(), format) == PENAMO_OK)
    return std::nullopt;
  return FailureLines(*context, verbose);
}

std::string CauseOf(int error) {
  std::string cause(penamo_system_cause(error, nullptr, 0), '\0');
  penamo_system_cause(error, cause.data(), cause.size() + 1);
  return cause;
}

std::vector<const penamo_format_info*> WrittenFormats() {
  std::vector<const penamo_format_info*> formats;
  for (int i = 0; i < penamo_format_count(); ++i)
    if (const penamo_format_info* format = penamo_format_at(i); format->writable != 0)
      formats.push_back(format);
  return formats;
}

const penamo_format_info* WrittenFormat(penamo_format format) {
  for (const penamo_format_info* written : WrittenFormats())
    if (written->format == format) return written;
  return nullptr;
}

}  // namespace penamo
