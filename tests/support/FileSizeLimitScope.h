// A disk that fills up, for tests of every layer that saves: the process's file-size limit
// lowered for the life of the object.
#pragma once

#include <sys/resource.h>

#include <csignal>

namespace penamo::test {

// Makes the disk "full" for this process after so many bytes of any file, for the life of the
// object: the file-size limit, its signal ignored so that the write fails instead.
class TFileSizeLimitScope {
 public:
  explicit TFileSizeLimitScope(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &FPrevious);
    FPreviousHandler = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit lowered{bytes, FPrevious.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~TFileSizeLimitScope() {
    ::setrlimit(RLIMIT_FSIZE, &FPrevious);
    std::signal(SIGXFSZ, FPreviousHandler);
  }
  TFileSizeLimitScope(const TFileSizeLimitScope&) = delete;
  TFileSizeLimitScope& operator=(const TFileSizeLimitScope&) = delete;

 private:
  rlimit FPrevious{};
  void (*FPreviousHandler)(int) = nullptr;
};

}  // namespace penamo::test
