// Any bytes as a picture file saved by penamo-filter's own call (libpenamo's penamo_filter_file)
// two ways: into a new file, which reads the input band by band where its format allows, and
// over the input itself, which reads it whole first (as the window does). Both must end alike:
// the same bytes written, or the same refusal (class, message and reason; the cause lines name
// different files). The first byte chooses the filter (or the unfiltered copy), the output
// format and the threads; the rest is the file. Pictures are kept small by a low storage limit.

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "Limits.h"
#include "penamo.h"

namespace {

using namespace penamo;
using namespace penamo::fuzz;

constexpr std::uint64_t kStorageLimit = std::uint64_t{1} << 18;

std::string gFolder;

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  Check(file != nullptr, "input not created");
  Check(size == 0 || std::fwrite(data, 1, size, file) == size, "input not written");
  Check(std::fclose(file) == 0, "input not closed");
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

// How a save ended: the bytes written, or the refusal.
struct TEnd {
  bool Saved = false;
  std::string Refusal;
  std::vector<std::uint8_t> Bytes;
};

TEnd Save(penamo_context* context, const std::string& input, const std::string& output,
          penamo_format format) {
  TEnd end;
  const penamo_status status = penamo_filter_file(context, input.c_str(), output.c_str(), format);
  if (status == PENAMO_OK) {
    end.Saved = true;
    end.Bytes = ReadFile(output);
  } else {
    Check(status != PENAMO_INTERNAL_ERROR, "a save failed with an internal error");
    end.Refusal = std::string(penamo_error_class(context)) + ": " + penamo_message(context) + " (" +
                  penamo_reason(context) + ")";
  }
  return end;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetStorageLimit(kStorageLimit);
  char pattern[] = "/tmp/penamo-fuzz-XXXXXX";
  Check(::mkdtemp(pattern) != nullptr, "no folder");
  gFolder = pattern;
  // The folder and its three files go with the process.
  std::atexit([] {
    for (const char* name : {"/in", "/out", "/over"})
      ::unlink((gFolder + name).c_str());
    ::rmdir(gFolder.c_str());
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t options = data[0];
  ++data;
  --size;
  penamo_context* context = penamo_context_new();
  Check(context != nullptr, "no context");
  // 0: the unfiltered copy, then each filter in turn.
  const int choice = (options & 0x0F) % (penamo_filter_count() + 1);
  const char* filter = choice == 0 ? "none" : penamo_filter_at(choice - 1)->name;
  Check(penamo_set_filter(context, filter) == PENAMO_OK, "filter not set");
  Check(penamo_set_threads(context, (options & 0x10) != 0 ? 2 : 1) == PENAMO_OK, "threads not set");
  const penamo_format format = (options & 0x20) != 0 ? PENAMO_FORMAT_PNG : PENAMO_FORMAT_BMP;

  const std::string input = gFolder + "/in", output = gFolder + "/out", over = gFolder + "/over";
  WriteFile(input, data, size);
  ::unlink(output.c_str());
  const TEnd banded = Save(context, input, output, format);
  WriteFile(over, data, size);
  const TEnd whole = Save(context, over, over, format);
  penamo_context_free(context);

  if (banded.Saved != whole.Saved) {
    std::fprintf(stderr, "band path: %s; whole path: %s\n",
                 banded.Saved ? "saved" : banded.Refusal.c_str(),
                 whole.Saved ? "saved" : whole.Refusal.c_str());
    Check(false, "one path saved the file and the other refused it");
  }
  if (!banded.Saved) {
    if (banded.Refusal != whole.Refusal)
      std::fprintf(stderr, "band path: %s\nwhole path: %s\n", banded.Refusal.c_str(),
                   whole.Refusal.c_str());
    Check(banded.Refusal == whole.Refusal, "the two paths refused the file for different reasons");
    return 0;
  }
  if (banded.Bytes != whole.Bytes) {
    // What tells a path's fault from a save that is not a function of its input: each path
    // saved once more, and the bytes of all four kept in the log for small files.
    penamo_context* again = penamo_context_new();
    Check(again != nullptr, "no context");
    Check(penamo_set_filter(again, filter) == PENAMO_OK, "filter not set");
    Check(penamo_set_threads(again, (options & 0x10) != 0 ? 2 : 1) == PENAMO_OK, "threads not set");
    ::unlink(output.c_str());
    const TEnd bandedAgain = Save(again, input, output, format);
    WriteFile(over, data, size);
    const TEnd wholeAgain = Save(again, over, over, format);
    penamo_context_free(again);
    const auto show = [](const char* name, const TEnd& end) {
      std::fprintf(stderr, "%s: %s, %zu bytes", name, end.Saved ? "saved" : end.Refusal.c_str(),
                   end.Bytes.size());
      if (end.Bytes.size() <= 4096) {
        std::fprintf(stderr, ":");
        for (const std::uint8_t byte : end.Bytes)
          std::fprintf(stderr, "%02x", byte);
      }
      std::fprintf(stderr, "\n");
    };
    show("band path", banded);
    show("whole path", whole);
    show("band path again", bandedAgain);
    show("whole path again", wholeAgain);
  }
  Check(banded.Bytes == whole.Bytes, "the two paths wrote different bytes");
  return 0;
}
