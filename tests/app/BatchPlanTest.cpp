// Where a batch's pictures go, asked of PlanBatch directly: outputs that differ only in case are
// one file in a folder that folds case (answered here in place of a file system that does), and
// the file system's own answer comes from a probe that leaves nothing behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BatchPlan.h"
#include "TemporaryFolder.h"

namespace penamo {
namespace {

std::vector<std::string> Refusals(const std::vector<TBatchItem>& items) {
  std::vector<std::string> refusals;
  for (const TBatchItem& item : items)
    refusals.push_back(item.Refusal);
  return refusals;
}

// Names that differ only in case, in ASCII and beyond, are one output where the folder folds
// case and two where it does not; the folder is asked only when two outputs differ in case
// alone, and once.
TEST(BatchPlan, NamesDifferingOnlyInCaseAreOneFileWhereTheFolderFoldsCase) {
  test::TTemporaryFolder folder;
  const std::vector<std::string> inputs = {"in/Photo.jpg", "x/photo.png", "y/PHOTO.tif",
                                           "z/Été.png",    "w/été.bmp",   "v/other.png"};
  for (const bool folds : {true, false}) {
    SCOPED_TRACE(folds ? "folds" : "keeps case");
    std::vector<std::string> asked;
    const std::vector<TBatchItem> items =
        PlanBatch(inputs, folder.Path(), ".png", [&](const std::string& where) {
          asked.push_back(where);
          return folds;
        });
    ASSERT_EQ(items.size(), inputs.size());
    EXPECT_EQ(items[1].Output, folder / "photo.png");
    EXPECT_EQ(asked, std::vector<std::string>{std::filesystem::canonical(folder.Path()).string()});
    const std::string same = " の出力と同じファイルなので、保存しません";
    if (folds) {
      EXPECT_EQ(Refusals(items),
                (std::vector<std::string>{
                    "", "出力ファイル " + folder / "photo.png" + " は " + inputs[0] + same,
                    "出力ファイル " + folder / "PHOTO.png" + " は " + inputs[0] + same, "",
                    "出力ファイル " + folder / "été.png" + " は " + inputs[3] + same, ""}));
    } else {
      EXPECT_EQ(Refusals(items), std::vector<std::string>(inputs.size()));
    }
  }
}

// Outputs that differ in more than case never ask the folder at all.
TEST(BatchPlan, TheFolderIsNotAskedWhereNoTwoNamesDifferInCaseAlone) {
  test::TTemporaryFolder folder;
  bool asked = false;
  const std::vector<TBatchItem> items =
      PlanBatch({"a.png", "b.png", "a/b.jpg"}, folder.Path(), ".bmp", [&](const std::string&) {
        asked = true;
        return true;
      });
  EXPECT_FALSE(asked);
  EXPECT_EQ(items[2].Refusal,
            "出力ファイル " + folder / "b.bmp" + " は b.png の出力と同じ名前なので、保存しません");
}

// The lower case of each letter, in UTF-8; bytes that are no UTF-8 stay as they were.
TEST(BatchPlan, FoldedNamesAreLowerCaseLetterByLetter) {
  const struct {
    std::string Name;
    std::string Folded;
  } cases[] = {
      {"Photo.PNG", "photo.png"},
      {"Été Ä ÖÜ.png", "été ä öü.png"},
      {"ΣΟΦΙΑ.png", "σοφια.png"},
      {"ДОМ.png", "дом.png"},
      {"写真-A.png", "写真-a.png"},
      {std::string("A\xFF\xC3.png"), std::string("a\xFF\xC3.png")},  // cut and stray bytes
  };
  for (const auto& c : cases)
    EXPECT_EQ(FoldedName(c.Name), c.Folded) << c.Name;
}

// The file system's own answer: what a file's case variant finds there, with the folder left as
// it was (the probe removed) and a folder that takes no new file answered "no".
TEST(BatchPlan, TheProbeAnswersAsTheFileSystemDoesAndLeavesNothing) {
  test::TTemporaryFolder folder;
  std::ofstream(folder / "known.txt") << "x";
  struct stat status {};
  const bool folds = ::stat((folder / "KNOWN.TXT").c_str(), &status) == 0;
  std::filesystem::remove(folder / "known.txt");
  EXPECT_EQ(FolderFoldsCase(folder.Path()), folds);
  EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));
  EXPECT_FALSE(FolderFoldsCase(folder / "missing"));
}

}  // namespace
}  // namespace penamo
