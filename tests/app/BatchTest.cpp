// penamo-filter FILTER INPUT... -o FOLDER: the names it gives, what it does when a folder or a
// picture fails, and its progress line, which appears on a terminal only.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "PictureMakers.h"
#include "ProgramRun.h"
#include "TemporaryFolder.h"

namespace penamo {
namespace {

using test::RunFilter;
using test::TProgramRun;

class Batch : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(FFolder / "out");
    std::filesystem::create_directory(FFolder / "in");
  }

  // A small colour PNG at in/name, each picture a little different.
  std::string Picture(const std::string& name, int seed = 0) {
    test::TPngLayout layout;
    layout.Width = 37;
    layout.Height = 23;
    layout.ColorType = 2;  // RGB
    for (int y = 0; y < layout.Height; ++y) {
      for (int x = 0; x < layout.Width; ++x) {
        layout.Samples.push_back(static_cast<std::uint32_t>((x * 7 + seed) % 256));
        layout.Samples.push_back(static_cast<std::uint32_t>((y * 11 + seed) % 256));
        layout.Samples.push_back(static_cast<std::uint32_t>((x + y) * 3 % 256));
      }
    }
    const std::string path = FFolder / ("in/" + name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    test::WriteFileBytes(path, test::MakePng(layout));
    return path;
  }

  std::vector<std::string> OutNames() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(FFolder / "out"))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // What the single-file form writes for input.
  test::TBytes SingleFileOutput(const std::vector<std::string>& args) {
    const std::string path = FFolder / "single";
    std::vector<std::string> all = args;
    all.push_back(path);
    const TProgramRun run = RunFilter(all, FFolder);
    EXPECT_EQ(run.Exit, 0) << run.Err;
    return test::ReadFileBytes(path);
  }

  // pattern16 over in/a.png and in/b.png into out/, where a name already there makes out/b.png
  // lead to a's output: a is saved as the single-file form saves it, and b is refused as a's
  // file.
  void ExpectTheSecondRefusedAsTheFirstsFile() {
    const std::string a = Picture("a.png", 1);
    const std::string b = Picture("b.png", 2);
    const TProgramRun run = RunFilter({"pattern16", a, b, "-o", FFolder / "out"}, FFolder);
    EXPECT_EQ(run.Exit, 1) << run.Err;
    EXPECT_EQ(test::ReadFileBytes(FFolder / "out/a.png"),
              SingleFileOutput({"--format", "png", "pattern16", a}));
    EXPECT_NE(run.Err.find(b + ": 出力ファイル " + FFolder / "out/b.png" + " は " + a +
                           " の出力と同じファイルなので、保存しません."),
              std::string::npos)
        << run.Err;
  }

  test::TTemporaryFolder FFolder;
};

// Each input goes into the folder as its base name without its extension, then .png (.bmp with
// --format bmp), holding what the single-file form writes; nothing else is left there, and off
// a terminal a run that succeeds prints nothing.
TEST_F(Batch, EachInputBecomesItsBaseNameWithTheFormatsExtension) {
  const std::string a = Picture("a.png", 1);
  const std::string b = Picture("deep/b.photo.jpg.png", 2);
  const std::string c = Picture("c", 3);
  TProgramRun run = RunFilter({"diffusion16", a, b, c, "-o", FFolder / "out"}, FFolder);
  EXPECT_EQ(run.Exit, 0) << run.Err;
  EXPECT_EQ(run.Err, "");
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"a.png", "b.photo.jpg.png", "c.png"}));
  EXPECT_EQ(test::ReadFileBytes(FFolder / "out/b.photo.jpg.png"),
            SingleFileOutput({"--format", "png", "diffusion16", b}));

  std::filesystem::remove_all(FFolder / "out");
  std::filesystem::create_directory(FFolder / "out");
  run = RunFilter(
      {"--format=bmp", "--levels", "4", "ordered", a, c, "--output-folder", FFolder / "out/"},
      FFolder);
  EXPECT_EQ(run.Exit, 0) << run.Err;
  EXPECT_EQ(run.Err, "");
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"a.bmp", "c.bmp"}));
  EXPECT_EQ(test::ReadFileBytes(FFolder / "out/c.bmp"),
            SingleFileOutput({"--format", "bmp", "--levels", "4", "ordered", c}));
}

// A folder that is missing or no folder fails at once, naming it, before any picture is read.
TEST_F(Batch, AFolderThatCannotBeUsedFailsBeforeAnyPicture) {
  const std::string a = Picture("a.png");
  const std::string missing = FFolder / "missing";
  TProgramRun run = RunFilter({"none", a, "-o", missing}, FFolder);
  EXPECT_EQ(run.Exit, 1);
  EXPECT_EQ(run.Err,
            "出力フォルダー " + missing + " を使えません: ファイルまたはフォルダーがありません\n");
  EXPECT_FALSE(std::filesystem::exists(missing));
  run = RunFilter({"none", a, "--output-folder=" + a}, FFolder);
  EXPECT_EQ(run.Exit, 1);
  EXPECT_EQ(run.Err, "出力フォルダー " + a + " を使えません: フォルダーではありません\n");
}

// A picture that cannot be read is reported with its name and message, the others are saved,
// and the exit status says that not all were: a damaged file, a missing one, a second input of
// the same base name (refused, never numbered or written over the first).
TEST_F(Batch, OnePicturesFailureIsReportedAndTheRestGoOn) {
  const std::string first = Picture("first.png", 1);
  const std::string damaged = FFolder / "in/damaged.png";
  test::WriteFileBytes(damaged, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0});
  const std::string missing = FFolder / "in/missing.png";
  const std::string again = Picture("other/first.jpg", 2);
  const std::string last = Picture("last.png", 3);
  const TProgramRun run = RunFilter(
      {"pattern16", first, damaged, missing, again, last, "-o", FFolder / "out"}, FFolder);
  EXPECT_EQ(run.Exit, 1);
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"first.png", "last.png"}));
  EXPECT_EQ(test::ReadFileBytes(FFolder / "out/first.png"),
            SingleFileOutput({"--format", "png", "pattern16", first}));
  EXPECT_NE(run.Err.find(damaged + ": "), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find(missing + ": ファイル " + missing + " は開けません."), std::string::npos)
      << run.Err;
  EXPECT_NE(run.Err.find(again + ": 出力ファイル " + FFolder / "out/first.png" + " は " + first +
                         " の出力と同じ名前なので、保存しません."),
            std::string::npos)
      << run.Err;
  EXPECT_NE(run.Err.find("5 個のファイルのうち 3 個を保存できませんでした\n"), std::string::npos)
      << run.Err;
  // Nothing of a good picture is reported, and no progress line is drawn off a terminal.
  EXPECT_EQ(run.Err.find(last), std::string::npos) << run.Err;
  EXPECT_EQ(run.Err.find('\r'), std::string::npos) << run.Err;
}

// Two outputs that are one file (a link already in the folder leads one to the other) are one
// output: the second is refused as a second input of the same base name is.
TEST_F(Batch, TwoOutputNamesOfOneFileAreRefusedAsOneName) {
  test::WriteFileBytes(FFolder / "out/a.png", {1, 2, 3});
  std::filesystem::create_symlink("a.png", FFolder / "out/b.png");
  ExpectTheSecondRefusedAsTheFirstsFile();
}

// A hard link is another name of the same file too.
TEST_F(Batch, AHardLinkToAnotherOutputIsRefusedAsOneName) {
  test::WriteFileBytes(FFolder / "out/a.png", {1, 2, 3});
  std::filesystem::create_hard_link(FFolder / "out/a.png", FFolder / "out/b.png");
  ExpectTheSecondRefusedAsTheFirstsFile();
}

// A name in the folder that leads to another output's file before either is written: a link
// to it (plain, through "..", or through another link), which a save writes through. The second
// output is refused before anything is written, as a second input of the same base name is,
// and the link stays.
struct TLeadingName {
  const char* Name;
  const char* LinkTarget;  // what out/b.png links to
};

class BatchAlias : public Batch, public ::testing::WithParamInterface<TLeadingName> {};

TEST_P(BatchAlias, ANameLeadingToAnotherOutputNotYetWrittenIsRefused) {
  std::filesystem::create_directories(FFolder / "out/sub");
  std::filesystem::create_symlink("a.png", FFolder / "out/c.png");  // for a link to a link
  std::filesystem::create_symlink(GetParam().LinkTarget, FFolder / "out/b.png");
  ExpectTheSecondRefusedAsTheFirstsFile();
  EXPECT_TRUE(std::filesystem::is_symlink(FFolder / "out/b.png"));
}

INSTANTIATE_TEST_SUITE_P(Links, BatchAlias,
                         ::testing::Values(TLeadingName{"Plain", "a.png"},
                                           TLeadingName{"UpAndBack", "../out/a.png"},
                                           TLeadingName{"ThroughAFolder", "sub/../a.png"},
                                           TLeadingName{"LinkToALink", "c.png"}),
                         [](const auto& param) { return std::string(param.param.Name); });

// On a terminal a progress line counts the files done, redrawn in place, and the last count
// stays on a line of its own; a failure's message is printed above it.
TEST_F(Batch, ATerminalShowsTheFilesDoneOnOneLineRedrawnInPlace) {
  const std::string a = Picture("a.png", 1);
  const std::string b = Picture("b.png", 2);
  const std::string bad = FFolder / "in/bad.png";
  test::WriteFileBytes(bad, {'B', 'M'});
  TProgramRun run = test::RunFilterOnTerminal({"none", a, b, "-o", FFolder / "out"}, FFolder);
  EXPECT_EQ(run.Exit, 0) << run.Err;
  EXPECT_NE(run.Err.find("\r0 / 2 ファイル完了"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("2 / 2 ファイルを保存しました ("), std::string::npos) << run.Err;
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"a.png", "b.png"}));

  run = test::RunFilterOnTerminal({"none", bad, a, "-o", FFolder / "out"}, FFolder);
  EXPECT_EQ(run.Exit, 1);
  // The line is cleared before the message, so the message starts a line of its own.
  EXPECT_NE(run.Err.find("\r\033[K" + bad + ": "), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("1 / 2 ファイルを保存しました ("), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("2 個のファイルのうち 1 個を保存できませんでした"), std::string::npos)
      << run.Err;
}

// Wrong uses of the batch form are usage errors (exit 2, the usage after the complaint), and
// nothing is written.
TEST_F(Batch, WrongUsesOfTheFolderAreUsageErrors) {
  const std::string a = Picture("a.png");
  const std::string out = FFolder / "out";
  const struct {
    std::vector<std::string> Args;
    std::string Message;
  } cases[] = {
      {{"none", a, "-o"}, "-o に値がありません"},
      {{"none", a, "--output-folder"}, "--output-folder に値がありません"},
      {{"none", a, "-o", out, "-o", out}, "出力フォルダーは一つだけ指定してください"},
      {{"none", "--output-folder=", a}, "出力フォルダーの名前が空です"},
      {{"none", "-o", out}, "FILTER と、一つ以上の INPUT を指定してください"},
      {{"blur", a, "-o", out}, "不明なフィルタです: blur"},
      {{"--grey", "diffusion64", a, "-o", out}, "--levels と --grey は"},
  };
  for (const auto& c : cases) {
    const TProgramRun run = RunFilter(c.Args, FFolder);
    EXPECT_EQ(run.Exit, 2) << c.Message;
    EXPECT_NE(run.Err.find(c.Message), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("使い方"), std::string::npos) << run.Err;
  }
  EXPECT_TRUE(OutNames().empty());
}

}  // namespace
}  // namespace penamo
