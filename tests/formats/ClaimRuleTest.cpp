// The claim rule: a file of a few bytes that claims a picture of gigapixels is refused by every
// read, whole or band by band, 8-bit or deep, before anything is allocated for it, with the
// message that names the claim; lifted, the same file reads as it always did.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "ExpectRefusal.h"
#include "HostilePictures.h"
#include "Limits.h"
#include "PictureFile.h"
#include "PictureMakers.h"
#include "StorageLimitScope.h"
#include "TemporaryFolder.h"

namespace penamo {
namespace {

using test::THostilePicture;
using test::TTemporaryFolder;

// Every read of a file path: band reads give null for a file they leave to the whole read.
const std::vector<std::pair<const char*, std::function<void(const std::string&)>>>& Reads() {
  static const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> reads =
      {
          {"ReadPicture",
           [](const std::string& path) {
             TBitmap picture;
             TPictureExtras extras;
             ReadPicture(path, picture, extras);
           }},
          {"OpenPictureRows",
           [](const std::string& path) {
             TPictureExtras extras;
             OpenPictureRows(path, extras);
           }},
          {"ReadPictureDeep",
           [](const std::string& path) {
             TDeepPicture deep;
             TPictureExtras extras;
             ReadPictureDeep(path, deep, extras);
           }},
          {"OpenPictureDeepRows",
           [](const std::string& path) {
             TPictureExtras extras;
             OpenPictureDeepRows(path, extras);
           }},
          {"ReadPictureWithDeep",
           [](const std::string& path) {
             TBitmap picture;
             TDeepPicture deep;
             TPictureExtras extras;
             ReadPictureWithDeep(path, picture, deep, extras);
           }},
      };
  return reads;
}

class HostilePicture : public ::testing::TestWithParam<THostilePicture> {
 protected:
  // The machine's own limit is not what refuses these files: the claim is.
  test::TStorageLimitScope FLimit{std::uint64_t{1} << 40};
  TTemporaryFolder FFolder;
};

TEST_P(HostilePicture, EveryReadRefusesTheClaimBeforeAllocating) {
  const THostilePicture& file = GetParam();
  ASSERT_LT(file.Bytes.size(), 10000u);
  const std::string path = FFolder / (file.Name + ".bin");
  test::WriteFileBytes(path, file.Bytes);
  int refusals = 0;
  for (const auto& [name, read] : Reads()) {
    SCOPED_TRACE(name);
    try {
      read(path);
      // Only a band read may leave the file to the whole read, which refuses it.
      EXPECT_NE(std::string(name).find("Rows"), std::string::npos) << "read without refusal";
    } catch (const EClaimBeyondData& error) {
      ++refusals;
      EXPECT_EQ(error.Reason(), file.Reason);
      EXPECT_STREQ(error.ClassName(), "EInvalidGraphic");
      EXPECT_GT(error.Claim().Width * error.Claim().Height,
                static_cast<std::int64_t>(kClaimFloorPixels));
      EXPECT_EQ(error.Claim().FileBytes, file.Bytes.size());
      // The claim and the bytes named, as a person reads numbers.
      EXPECT_NE(error.Message().find(" バイト) に比べて大きすぎます"), std::string::npos)
          << error.Message();
    } catch (const Exception& error) {
      ADD_FAILURE() << "refused otherwise: " << test::Describe(error);
    }
  }
  EXPECT_GE(refusals, 3);
}

INSTANTIATE_TEST_SUITE_P(Files, HostilePicture, ::testing::ValuesIn(test::HostilePictures()),
                         [](const auto& param) { return param.param.Name; });

TEST(ClaimRule, PicturesUpToTheFloorAndRealPicturesOverItAreRead) {
  test::TStorageLimitScope limit(std::uint64_t{1} << 40);
  TTemporaryFolder folder;
  TBitmap picture;
  TPictureExtras extras;
  // 8000 × 8000 is the floor itself: a header alone still reads, black, as it always did.
  test::WriteFileBytes(folder / "floor.bmp", test::BitmapHeaderOnly(8000, 8000));
  ReadPicture(folder / "floor.bmp", picture, extras);
  EXPECT_EQ(picture.Width(), 8000);
  // A whole 24-bit picture over the floor holds its bytes: 8200 × 8200 in 201 MB (a sparse
  // file: only the header is written).
  const std::string whole = folder / "whole.bmp";
  test::WriteFileBytes(whole, test::BitmapHeaderOnly(8200, 8200));
  std::filesystem::resize_file(whole, 54 + std::uint64_t{8200} * 3 * 8200);
  TPictureExtras rowExtras;
  EXPECT_NE(OpenPictureRows(whole, rowExtras), nullptr);
}

TEST(ClaimRule, LiftedTheClaimIsReadAsItWasBefore) {
  test::TStorageLimitScope limit(std::uint64_t{1} << 40);
  TTemporaryFolder folder;
  const std::string path = folder / "over.bmp";
  test::WriteFileBytes(path, test::BitmapHeaderOnly(8200, 8200));
  TBitmap picture;
  TPictureExtras extras;
  test::ExpectRefusal<EClaimBeyondData>([&] { ReadPicture(path, picture, extras); },
                                        test::kAnyReason);
  TPictureExtras rowExtras;
  test::ExpectRefusal<EClaimBeyondData>([&] { OpenPictureRows(path, rowExtras); },
                                        test::kAnyReason);
  {
    const TClaimRuleLifting lifted;
    ReadPicture(path, picture, extras);
    EXPECT_EQ(picture.Width(), 8200);
    EXPECT_NE(OpenPictureRows(path, rowExtras), nullptr);
  }
  EXPECT_FALSE(ClaimRuleLifted());
  test::ExpectRefusal<EClaimBeyondData>([&] { ReadPicture(path, picture, extras); },
                                        test::kAnyReason);
}

TEST(ClaimRule, BandReadOfABitmapHasTheWholeReadsStorageLimit) {
  // Within the claim rule (the pixels are there), beyond the storage limit: both reads refuse
  // it the same way.
  test::TStorageLimitScope limit(1000);
  TTemporaryFolder folder;
  const std::string path = folder / "large.bmp";
  test::WriteFileBytes(path, test::BitmapHeaderOnly(100, 100, 100 * 300));
  TBitmap picture;
  TPictureExtras extras;
  test::ExpectRefusal<EOutOfResources>([&] { ReadPicture(path, picture, extras); },
                                       "picture-too-large", Msg::OutOfResources);
  test::ExpectRefusal<EOutOfResources>([&] { OpenPictureRows(path, extras); }, "picture-too-large",
                                       Msg::OutOfResources);
}

}  // namespace
}  // namespace penamo
