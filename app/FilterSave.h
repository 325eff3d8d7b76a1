// What both forms of penamo-filter share: the settings of a run, a library context holding
// them, one picture saved through it with the lines that say why it failed, and the kinds of
// file a save writes, as the library lists them.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "penamo.h"

namespace penamo {

enum TExitCode { kSuccess = 0, kFailure = 1, kUsage = 2 };

// What every save of one run shares: the filter (null for the unfiltered copy) and its options,
// as the command line gave them.
struct TSettings {
  std::string FilterName;
  const penamo_filter_info* Filter = nullptr;
  int Strength = 100;
  int Levels = 256;
  bool Grey = false;
  penamo_light Light = PENAMO_LIGHT_LINEAR;
  bool Strip = false;  // no colour profile nor metadata in the output
  bool Trusted = false;
  bool Verbose = false;
};

struct TContextFree {
  void operator()(penamo_context* context) const { penamo_context_free(context); }
};
using TContext = std::unique_ptr<penamo_context, TContextFree>;

// A context holding the settings, one for each thread that saves; null when memory is short.
TContext NewContext(const TSettings& settings);

// One picture from input to output; the lines saying why it failed (each ending in a line
// break), or nothing when it was saved.
std::optional<std::string> Save(penamo_context* context, const std::string& input,
                                const std::string& output, penamo_format format, bool verbose);

// What the system's error code means for a file, in the library's words.
std::string CauseOf(int error);

// The kinds a save writes, in the library's order; each one's usual extension names it on the
// command line.
std::vector<const penamo_format_info*> WrittenFormats();

// The written kind penamo_format asks for, or null.
const penamo_format_info* WrittenFormat(penamo_format format);

}  // namespace penamo
