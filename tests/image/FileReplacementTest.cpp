// What a save leaves in the target's folder: a new file appears under its own name alone, and a
// temporary file that a killed process left is removed by the next save there.

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "FileReplacement.h"
#include "Stream.h"
#include "TemporaryFolder.h"

namespace penamo {
namespace {

void Touch(const std::string& path) {
  std::ofstream(path) << "left";
}

std::string Host() {
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  return host;
}

// A process number that ran and no longer runs.
pid_t EndedProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

// The names created in folder while save runs, in order, as the kernel reports them.
template <typename Save>
std::vector<std::string> NamesCreatedDuring(const std::string& folder, Save save) {
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  EXPECT_GE(watch, 0);
  EXPECT_GE(::inotify_add_watch(watch, folder.c_str(), IN_CREATE | IN_MOVED_TO), 0);
  save();
  std::vector<std::string> names;
  alignas(inotify_event) char buffer[8192];
  for (;;) {
    const ssize_t got = ::read(watch, buffer, sizeof buffer);
    if (got <= 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->len > 0) names.emplace_back(event->name);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  ::close(watch);
  return names;
}

TEST(FileReplacement, ANewFileNeverHasAnyNameButItsOwn) {
  test::TTemporaryFolder folder;
  const std::string target = folder / "new.bmp";
  bool unnamed = false;
  const std::vector<std::string> created = NamesCreatedDuring(folder.Path(), [&] {
    TFileReplacement replacement(target);
    unnamed = replacement.Unnamed();
    THandleStream(replacement.Handle()).WriteBuffer("BM", 2);
    replacement.Commit();
  });
  if (!unnamed) GTEST_SKIP() << "no unnamed files on this file system";
  EXPECT_EQ(created, std::vector<std::string>{"new.bmp"});
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"new.bmp"});
}

TEST(FileReplacement, AReplacedFileStillGoesThroughOneHiddenNameThatIsGoneAfterwards) {
  test::TTemporaryFolder folder;
  const std::string target = folder / "picture.bmp";
  Touch(target);
  const std::vector<std::string> created = NamesCreatedDuring(folder.Path(), [&] {
    TFileReplacement replacement(target);
    THandleStream(replacement.Handle()).WriteBuffer("BM", 2);
    replacement.Commit();
  });
  // The hidden name, then the rename onto the target.
  ASSERT_EQ(created.size(), 2u);
  EXPECT_TRUE(created[0].starts_with(".penamo-" + std::to_string(::getpid()) + "-")) << created[0];
  EXPECT_EQ(created[1], "picture.bmp");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"picture.bmp"});
}

TEST(FileReplacement, TheNextSaveRemovesTemporariesOfEndedProcessesAndNothingElse) {
  test::TTemporaryFolder folder;
  const std::string host = Host();
  const std::string ended = ".penamo-" + std::to_string(EndedProcess()) + "-" + host + "-Ab3dE9";
  const std::vector<std::string> kept = {
      // This process runs, as does process 1: their saves may be under way.
      ".penamo-" + std::to_string(::getpid()) + "-" + host + "-Zz9yX8",
      ".penamo-1-" + host + "-Qq1wE2",
      // Another host's, one of an older form, and names that only look alike: not ours to judge.
      ".penamo-" + std::to_string(EndedProcess()) + "-another-host-x-Rr5tY6",
      ".penamo-Ab3dE9",
      ".penamo-notes.txt",
      "holiday.png",
  };
  Touch(folder / ended);
  for (const std::string& name : kept)
    Touch(folder / name);
  for (const TTemporaryNaming naming :
       {TTemporaryNaming::Named, TTemporaryNaming::UnnamedWherePossible}) {
    TFileReplacement replacement(folder / "out.bmp", naming);
    THandleStream(replacement.Handle()).WriteBuffer("BM", 2);
    replacement.Commit();
  }
  std::vector<std::string> expected = kept;
  expected.push_back("out.bmp");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(folder.Names(), expected);
}

}  // namespace
}  // namespace penamo
