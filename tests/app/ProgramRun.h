// penamo-filter started as a shell starts it, for the tests: its arguments, its exit status and
// what it printed. Standard output and error go to files in the test's folder (so stderr is no
// terminal, as in a script), or to a pseudo-terminal when a test asks for one.
#pragma once

#include <string>
#include <vector>

#include "TemporaryFolder.h"

namespace penamo::test {

struct TProgramRun {
  // The exit status, or 128 + the signal that ended the program.
  int Exit = -1;
  std::string Out;
  std::string Err;
};

// Runs penamo-filter with args and waits for it; its output files live in folder.
TProgramRun RunFilter(const std::vector<std::string>& args, const TTemporaryFolder& folder);

// The same with standard error on a pseudo-terminal (read into Err), standard output on a file.
TProgramRun RunFilterOnTerminal(const std::vector<std::string>& args,
                                const TTemporaryFolder& folder);

}  // namespace penamo::test
