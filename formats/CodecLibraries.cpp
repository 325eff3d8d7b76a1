#include "CodecLibraries.h"

#include <dlfcn.h>

#include <initializer_list>
#include <string>

#include "Exceptions.h"

namespace penamo {
namespace {

// The format's libraries opened, or EUnsupportedGraphic saying which one is missing. The
// handles are kept for the life of the process: the functions are used until it ends.
class TLoaded {
 public:
  TLoaded(const char* format, const char* reasonPrefix, std::initializer_list<const char*> names)
      : FFormat(format), FReasonPrefix(reasonPrefix) {
    for (const char* name : names) {
      void* handle = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
      if (handle == nullptr) Missing(name);
      FHandles[FCount++] = handle;
    }
  }

  template <typename Function>
  void Find(Function& function, const char* name) const {
    for (int i = 0; i < FCount; ++i) {
      if (void* symbol = ::dlsym(FHandles[i], name)) {
        function = reinterpret_cast<Function>(symbol);
        return;
      }
    }
    Missing(name);
  }

 private:
  [[noreturn]] void Missing(const char* what) const {
    throw EUnsupportedGraphic(
        std::string(FFormat) + " イメージを読むためのライブラリ (" + what + ") を読み込めません",
        std::string(FReasonPrefix) + "-library-missing");
  }

  const char* FFormat;
  const char* FReasonPrefix;
  void* FHandles[2] = {};
  int FCount = 0;
};

}  // namespace

#define PENAMO_FIND_FUNCTION(name) library.Find(functions.name, #name);

const THeifFunctions& HeifFunctions() {
  // A static initialised by a function that throws is initialised again on the next call.
  static const THeifFunctions loaded = [] {
    const TLoaded library("HEIF・AVIF", "heif", {PENAMO_LIBHEIF_SONAME});
    THeifFunctions functions{};
    PENAMO_HEIF_FUNCTIONS(PENAMO_FIND_FUNCTION)
    return functions;
  }();
  return loaded;
}

const TJxlFunctions& JxlFunctions() {
  static const TJxlFunctions loaded = [] {
    const TLoaded library("JPEG XL", "jxl", {PENAMO_LIBJXL_SONAME, PENAMO_LIBJXL_THREADS_SONAME});
    TJxlFunctions functions{};
    PENAMO_JXL_FUNCTIONS(PENAMO_FIND_FUNCTION)
    return functions;
  }();
  return loaded;
}

#undef PENAMO_FIND_FUNCTION

}  // namespace penamo
