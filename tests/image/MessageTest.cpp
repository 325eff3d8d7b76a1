#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <memory>
#include <string>

#include "Exceptions.h"
#include "FailureCause.h"
#include "TemporaryFolder.h"

namespace penamo {
namespace {

// The rule both the window's boxes and penamo-filter follow.
TEST(MessageWithFullStop, AddsAStopAfterACharacterThatSortsAfterTheStopOnly) {
  EXPECT_EQ(MessageWithFullStop(""), "");
  EXPECT_EQ(MessageWithFullStop("abc"), "abc.");
  EXPECT_EQ(MessageWithFullStop("abc."), "abc.");
  EXPECT_EQ(MessageWithFullStop("(1)"), "(1)") << "')' sorts before '.'";
  EXPECT_EQ(MessageWithFullStop("abc/"), "abc/.");
  EXPECT_EQ(MessageWithFullStop(Msg::ReadError), std::string(Msg::ReadError) + ".");
}

// The cause line the window and penamo-filter both show under a message: which error gives
// which words, for the file named.
struct TCauseCase {
  const char* Name;
  std::shared_ptr<const Exception> (*Make)();
  const char* Cause;  // empty: no line
};

template <class E>
std::shared_ptr<const Exception> Failed(int error) {
  return std::make_shared<E>("x", "", error);
}

const TCauseCase kCauses[] = {
    {"NoPermission", [] { return Failed<EFCreateError>(EACCES); }, "アクセス権がありません"},
    {"NotFound", [] { return Failed<EFOpenError>(ENOENT); },
     "ファイルまたはフォルダーがありません"},
    {"ReadOnlyFileSystem", [] { return Failed<EFCreateError>(EROFS); },
     "読み取り専用のファイル システムです"},
    {"DiskFull", [] { return Failed<EWriteError>(ENOSPC); }, "ディスクの空き容量が足りません"},
    {"FileTooLarge", [] { return Failed<EWriteError>(EFBIG); },
     "ファイルが大きすぎます (ファイル サイズの上限を超えました)"},
    {"UnknownCode", [] { return Failed<EReadError>(9999); }, "システム エラー (コード 9999)"},
};

class CauseLine : public ::testing::TestWithParam<TCauseCase> {};

TEST_P(CauseLine, NamesTheFileAndSaysWhyInTheUsersWords) {
  EXPECT_EQ(FailureCauseLine(*GetParam().Make(), "/a/b.bmp"),
            std::string("ファイル /a/b.bmp: ") + GetParam().Cause);
}

INSTANTIATE_TEST_SUITE_P(SystemErrors, CauseLine, ::testing::ValuesIn(kCauses),
                         [](const auto& param) { return std::string(param.param.Name); });

TEST(CauseLineOfData, SaysWhereAFileEndsEarlyAndThatADamagedOneIsDamaged) {
  const test::TTemporaryFolder folder;
  const std::string path = folder.Path() + "/cut.png";
  std::ofstream(path) << std::string(1234, 'x');
  // Thrown as what the readers throw: the classes decide, the message does not.
  EXPECT_EQ(FailureCauseLine(EReadError(Msg::ReadError, "png-truncated"), path),
            "ファイル " + path + ": データが途中で終わっています (1234 バイト目で途切れています)");
  EXPECT_EQ(FailureCauseLine(EInvalidGraphic(Msg::InvalidPng, "png-bad-crc"), path),
            "ファイル " + path + ": 画像のデータが壊れています");
  // Said already by the message, or nothing known of the file: no line.
  EXPECT_EQ(FailureCauseLine(EUnsupportedGraphic(Msg::UnsupportedPicture, "x"), path), "");
  EXPECT_EQ(FailureCauseLine(EOutOfMemory(Msg::OutOfMemory, "x"), path), "");
  EXPECT_TRUE(IsWriteFailure(EFCreateError("x")));
  EXPECT_TRUE(IsWriteFailure(EWriteError("x")));
  EXPECT_FALSE(IsWriteFailure(EReadError("x")));
  EXPECT_FALSE(IsWriteFailure(EFOpenError("x")));
}

}  // namespace
}  // namespace penamo
