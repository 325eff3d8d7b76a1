// penamo-filter over files that claim far more pixels than they hold: refused before anything
// is allocated or written, in the message that says so, unless --trusted-input lifts the rule.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "HostilePictures.h"
#include "PictureMakers.h"
#include "ProgramRun.h"
#include "TemporaryFolder.h"

namespace penamo {
namespace {

using test::RunFilter;
using test::TProgramRun;

TEST(ClaimRuleFilter, FewBytesClaimingGigapixelsAreRefusedBeforeAnythingIsWritten) {
  const test::TTemporaryFolder folder;
  for (const test::THostilePicture& file : test::HostilePictures()) {
    SCOPED_TRACE(file.Name);
    const std::string input = folder / (file.Name + ".in");
    const std::string output = folder / (file.Name + ".bmp");
    test::WriteFileBytes(input, file.Bytes);
    const TProgramRun run = RunFilter({"--verbose", "none", input, output}, folder);
    EXPECT_EQ(run.Exit, 1);
    EXPECT_NE(run.Err.find("に比べて大きすぎます"), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find(file.Reason), std::string::npos) << run.Err;
    EXPECT_FALSE(std::filesystem::exists(output));
  }
  for (const std::string& name : folder.Names())
    EXPECT_NE(name.rfind(".penamo", 0), 0u) << "a temporary was left: " << name;
}

TEST(ClaimRuleFilter, TrustedInputLiftsTheRuleAndLeavesTheOtherLimits) {
  const test::TTemporaryFolder folder;
  // 2,000,000,000 × 2,000,000,000 pixels: beyond the claim rule, and beyond any storage.
  const std::string input = folder / "huge.bmp";
  test::WriteFileBytes(input, test::BitmapHeaderOnly(2000000000, 2000000000));
  const TProgramRun refused = RunFilter({"--verbose", "none", input, folder / "a.bmp"}, folder);
  EXPECT_EQ(refused.Exit, 1);
  EXPECT_NE(refused.Err.find("bitmap-claims-more-than-data"), std::string::npos) << refused.Err;
  const TProgramRun trusted =
      RunFilter({"--trusted-input", "--verbose", "none", input, folder / "b.bmp"}, folder);
  EXPECT_EQ(trusted.Exit, 1);
  EXPECT_EQ(trusted.Err.find("bitmap-claims-more-than-data"), std::string::npos) << trusted.Err;
  EXPECT_NE(trusted.Err.find("picture-too-large"), std::string::npos) << trusted.Err;
}

// Standard error a pipe whose reader is gone: the message cannot be written, and the program
// ends with its own failure status rather than killed by SIGPIPE.
TEST(ClosedPipe, AStandardErrorNobodyReadsIsAFailedWriteNotADeath) {
  const test::TTemporaryFolder folder;
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  ::close(pipeEnds[0]);
  const std::string output = folder / "out.bmp";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::dup2(pipeEnds[1], 2);
    ::execl(PENAMO_FILTER_PROGRAM, "penamo-filter", "none", (folder / "missing.bmp").c_str(),
            output.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipeEnds[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_FALSE(WIFSIGNALED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
}

}  // namespace
}  // namespace penamo
