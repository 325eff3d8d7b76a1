// Gives a test program that opens windows or dialogs a home of its own: HOME and the XDG folders
// point into a new folder under the system's temporary folder, removed when the program ends,
// so that nothing a test (or Qt under it) stores reaches the home of whoever runs the tests.
// Made first thing in main(), before the application object. A child that a death test starts
// anew shares its parent's home.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace penamo::test {

class TTestHome {
 public:
  TTestHome() {
    if (const char* parents = std::getenv(Variable); parents != nullptr && *parents != '\0') {
      FPath = parents;
      return;
    }
    const char* temporary = std::getenv("TMPDIR");
    std::string pattern =
        std::string(temporary != nullptr && *temporary != '\0' ? temporary : "/tmp") +
        "/penamo-test-home-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("no temporary home for the tests");
      std::exit(2);
    }
    FPath = pattern;
    FOwned = true;
    Set(Variable, FPath);
    Set("HOME", FPath);
    Set("XDG_CONFIG_HOME", MakeFolder("config"));
    Set("XDG_CACHE_HOME", MakeFolder("cache"));
    Set("XDG_DATA_HOME", MakeFolder("data"));
    Set("XDG_STATE_HOME", MakeFolder("state"));
    Set("XDG_RUNTIME_DIR", MakeFolder("runtime"));
  }
  ~TTestHome() {
    if (!FOwned) return;
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  TTestHome(const TTestHome&) = delete;
  TTestHome& operator=(const TTestHome&) = delete;

  const std::string& Path() const { return FPath; }

  // Names the folder to the children of this program.
  static constexpr const char* Variable = "PENAMO_TEST_HOME";

 private:
  std::string MakeFolder(const char* name) const {
    const std::string folder = FPath + "/" + name;
    ::mkdir(folder.c_str(), 0700);
    return folder;
  }
  static void Set(const char* variable, const std::string& value) {
    ::setenv(variable, value.c_str(), 1);
  }

  std::string FPath;
  bool FOwned = false;
};

}  // namespace penamo::test
