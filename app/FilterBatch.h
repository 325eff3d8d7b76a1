// penamo-filter's batch form: many pictures into one folder (-o FOLDER), several saved side by
// side, each thread with a library context of its own; one picture's failure is reported with
// its name and the others go on.
#pragma once

#include <string>
#include <vector>

#include "FilterSave.h"

namespace penamo {

// Every input into folder, as the written kind format (its usual extension ends each name).
// Returns kSuccess when every picture was saved, else kFailure; a folder that cannot be used
// fails before any picture is read, and outputs that would be one file are refused before any
// is written (BatchPlan.h).
int RunBatch(const TSettings& settings, const std::vector<std::string>& inputs, std::string folder,
             const penamo_format_info& format);

}  // namespace penamo
