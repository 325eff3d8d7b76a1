// Saves ended from outside: by a signal part-way, by a file-size limit. The earlier file stays
// byte for byte, nothing of the save is left beside it, and the program ends the way the signal
// says (or, under a size limit, with the write error instead of dying without a word). Each case
// runs in a child process, since the signals end the process they reach.
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/resource.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "BitmapBandWriter.h"
#include "FileReplacement.h"
#include "Pictures24.h"
#include "SaveInterruption.h"
#include "Stream.h"
#include "TemporaryFolder.h"

namespace penamo {
namespace {

std::vector<char> Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The folder's file system gives a save's file no name until it is complete.
bool MakesUnnamedFiles(const std::string& folder) {
  struct statfs fs {};
  if (::statfs(folder.c_str(), &fs) != 0) return false;
  return fs.f_type == EXT4_SUPER_MAGIC || fs.f_type == TMPFS_MAGIC ||
         fs.f_type == XFS_SUPER_MAGIC || fs.f_type == BTRFS_SUPER_MAGIC;
}

// A child process that runs body and then waits; the parent learns through a pipe when body
// has run, and may then tell it to go on.
class TChild {
 public:
  explicit TChild(const std::function<void(TChild&)>& body) {
    if (::pipe(FToParent) != 0 || ::pipe(FToChild) != 0) throw std::runtime_error("no pipe");
    FPid = ::fork();
    if (FPid < 0) throw std::runtime_error("no fork");
    if (FPid == 0) {
      Close(FToParent[0]);
      Close(FToChild[1]);
      try {
        body(*this);
      } catch (...) {
        ::_exit(101);
      }
      ::_exit(0);
    }
    // The parent keeps only its own ends, so that a child that ends early is seen to.
    Close(FToParent[1]);
    Close(FToChild[0]);
  }
  ~TChild() {
    if (FPid > 0 && !FReaped) {
      ::kill(FPid, SIGKILL);
      Wait();
    }
    for (int* end : {&FToParent[0], &FToParent[1], &FToChild[0], &FToChild[1]})
      Close(*end);
  }
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;

  // In the child: tells the parent it got this far, then waits for the word to go on.
  void Ready() {
    const char byte = 'r';
    [[maybe_unused]] ssize_t n = ::write(FToParent[1], &byte, 1);
    char go = 0;
    while (::read(FToChild[0], &go, 1) < 0 && errno == EINTR) {
    }
  }
  // In the parent.
  bool AwaitReady() {
    char byte = 0;
    return ::read(FToParent[0], &byte, 1) == 1;
  }
  void Go() {
    const char byte = 'g';
    [[maybe_unused]] ssize_t n = ::write(FToChild[1], &byte, 1);
  }
  pid_t Pid() const { return FPid; }
  int Wait() {
    int status = 0;
    ::waitpid(FPid, &status, 0);
    FReaped = true;
    return status;
  }
  bool Running() {
    int status = 0;
    if (::waitpid(FPid, &status, WNOHANG) == 0) return true;
    FReaped = true;
    FStatus = status;
    return false;
  }
  int Status() const { return FStatus; }

 private:
  static void Close(int& end) {
    if (end >= 0) ::close(end);
    end = -1;
  }

  int FToParent[2] = {-1, -1};
  int FToChild[2] = {-1, -1};
  pid_t FPid = -1;
  bool FReaped = false;
  int FStatus = 0;
};

std::vector<std::uint8_t> BitmapBytes(int width, int height, std::uint8_t value) {
  TBitmap picture;
  test::MakePicture24(picture, width, height,
                      [value](std::int32_t i, std::int32_t y) { return value + i + 3 * y; });
  TMemoryStream bytes;
  picture.WriteBitmapStream(bytes);
  return bytes.Bytes();
}

struct TInterruption {
  TTemporaryNaming Naming;
  int Signal;
};

class SaveInterruptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer's runtime holds a signal back until the thread next enters it, so a
    // child blocked in a write never sees the signal these tests send; the other builds run them.
    GTEST_SKIP() << "signals are deferred under ThreadSanitizer";
#endif
    FTarget = FFolder / "picture.bmp";
    const std::vector<std::uint8_t> earlier = BitmapBytes(20, 10, 7);
    std::ofstream(FTarget, std::ios::binary)
        .write(reinterpret_cast<const char*>(earlier.data()),
               static_cast<std::streamsize>(earlier.size()));
    FBefore = Contents(FTarget);
    ASSERT_FALSE(FBefore.empty());
  }

  // A child that starts replacing the target under the policy, writes half of a new picture and
  // waits there; once told to go on, it writes the rest and commits.
  std::function<void(TChild&)> HalfASave(TInterruptionPolicy policy, TTemporaryNaming naming) {
    return [this, policy, naming](TChild& child) {
      HandleInterruptions(policy);
      const std::vector<std::uint8_t> data = BitmapBytes(64, 64, 3);
      const auto half = static_cast<std::int64_t>(data.size() / 2);
      TFileReplacement replacement(FTarget, naming);
      THandleStream out(replacement.Handle());
      out.WriteBuffer(data.data(), half);
      child.Ready();
      out.WriteBuffer(data.data() + half, static_cast<std::int64_t>(data.size()) - half);
      replacement.Commit();
    };
  }

  test::TTemporaryFolder FFolder;
  std::string FTarget;
  std::vector<char> FBefore;
};

class InterruptedSaveTest : public SaveInterruptionTest,
                            public ::testing::WithParamInterface<TInterruption> {};

TEST_P(InterruptedSaveTest, TheCommandLineEndsBySignalLeavingTheEarlierFileAndNothingElse) {
  const TInterruption interruption = GetParam();
  TChild child(HalfASave(TInterruptionPolicy::Abandon, interruption.Naming));
  ASSERT_TRUE(child.AwaitReady());
  if (interruption.Naming == TTemporaryNaming::Named) {
    ASSERT_EQ(FFolder.Names().size(), 2u) << "the save is under way under a temporary name";
  }
  ASSERT_EQ(::kill(child.Pid(), interruption.Signal), 0);
  const int status = child.Wait();
  ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
  EXPECT_EQ(WTERMSIG(status), interruption.Signal);
  EXPECT_EQ(FFolder.Names(), std::vector<std::string>{"picture.bmp"});
  EXPECT_EQ(Contents(FTarget), FBefore);
}

INSTANTIATE_TEST_SUITE_P(
    EverySignalAndNaming, InterruptedSaveTest,
    ::testing::Values(TInterruption{TTemporaryNaming::UnnamedWherePossible, SIGINT},
                      TInterruption{TTemporaryNaming::UnnamedWherePossible, SIGTERM},
                      TInterruption{TTemporaryNaming::UnnamedWherePossible, SIGHUP},
                      TInterruption{TTemporaryNaming::Named, SIGINT},
                      TInterruption{TTemporaryNaming::Named, SIGTERM},
                      TInterruption{TTemporaryNaming::Named, SIGHUP}));

TEST_F(SaveInterruptionTest, TheWindowFinishesTheSaveThenEndsBySignal) {
  for (const TTemporaryNaming naming :
       {TTemporaryNaming::UnnamedWherePossible, TTemporaryNaming::Named}) {
    SCOPED_TRACE(naming == TTemporaryNaming::Named ? "named" : "unnamed");
    SetUp();
    TChild child(HalfASave(TInterruptionPolicy::Finish, naming));
    ASSERT_TRUE(child.AwaitReady());
    ASSERT_EQ(::kill(child.Pid(), SIGTERM), 0);
    // The signal is held while the save is under way: the child waits on.
    ::usleep(100'000);
    ASSERT_TRUE(child.Running()) << "the signal ended the window's save part-way";
    child.Go();
    const int status = child.Wait();
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_EQ(FFolder.Names(), std::vector<std::string>{"picture.bmp"});
    const std::vector<std::uint8_t> saved = BitmapBytes(64, 64, 3);
    EXPECT_EQ(Contents(FTarget), std::vector<char>(saved.begin(), saved.end()));
  }
}

TEST_F(SaveInterruptionTest, WithNoSaveUnderWayTheWindowEndsAtOnce) {
  TChild child([](TChild& self) {
    HandleInterruptions(TInterruptionPolicy::Finish);
    self.Ready();
    ::pause();
  });
  ASSERT_TRUE(child.AwaitReady());
  ASSERT_EQ(::kill(child.Pid(), SIGINT), 0);
  const int status = child.Wait();
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGINT);
}

TEST_F(SaveInterruptionTest, AKilledSaveLeavesNothingWhereTheFileSystemWritesUnnamed) {
  if (!MakesUnnamedFiles(FFolder.Path())) GTEST_SKIP() << "no unnamed files on this file system";
  TChild child([this](TChild& self) {
    TFileReplacement replacement(FTarget);
    if (!replacement.Unnamed()) ::_exit(102);
    THandleStream out(replacement.Handle());
    out.WriteBuffer("BM", 2);
    self.Ready();
  });
  ASSERT_TRUE(child.AwaitReady()) << "the file was given a name before it was complete";
  ASSERT_EQ(::kill(child.Pid(), SIGKILL), 0);
  const int status = child.Wait();
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(FFolder.Names(), std::vector<std::string>{"picture.bmp"});
  EXPECT_EQ(Contents(FTarget), FBefore);
}

TEST_F(SaveInterruptionTest, AFileSizeLimitGivesTheWriteErrorWithItsCause) {
  // Not the tests' size-limit scope: that one ignores the signal itself.
  TChild child([this](TChild&) {
    HandleInterruptions(TInterruptionPolicy::Abandon);
    const rlimit limit{16 * 1024, RLIM_INFINITY};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const std::vector<std::uint8_t> data = BitmapBytes(200, 200, 3);
    for (const TTemporaryNaming naming :
         {TTemporaryNaming::UnnamedWherePossible, TTemporaryNaming::Named}) {
      try {
        TFileReplacement replacement(FTarget, naming);
        THandleStream out(replacement.Handle());
        out.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
        replacement.Commit();
        ::_exit(103);
      } catch (const EWriteError& e) {
        if (std::strcmp(e.what(), "ストリームへの書き込みエラー") != 0) ::_exit(104);
        if (e.SystemError() != EFBIG) ::_exit(105);
      }
      try {
        TBitmapBandWriter writer(FTarget, 200, 200);
        ::_exit(106);
      } catch (const EWriteError& e) {
        if (e.SystemError() != EFBIG) ::_exit(107);
      }
    }
    ::_exit(0);
  });
  const int status = child.Wait();
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(FFolder.Names(), std::vector<std::string>{"picture.bmp"});
  EXPECT_EQ(Contents(FTarget), FBefore);
}

}  // namespace
}  // namespace penamo
