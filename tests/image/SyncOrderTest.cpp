// The order in which a save reaches the disk: the new file's bytes are flushed before the file
// takes any name in the folder, and the folder is flushed after the rename. A save that renamed
// first could leave, after a power cut, a complete-looking name over bytes never written. The
// test program is linked with the system calls wrapped (-Wl,--wrap), so every call is traced.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "FileReplacement.h"
#include "Pictures24.h"
#include "Stream.h"
#include "TemporaryFolder.h"

namespace {

struct TCall {
  std::string Name;
  int Handle;  // the file flushed, or the folder named into
};

bool Tracing = false;
std::vector<TCall> Calls;

}  // namespace

extern "C" {
int __real_fsync(int handle);
int __real_linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags);
int __real_renameat(int fromFolder, const char* from, int toFolder, const char* to);
// The linker's --wrap sends every call of the three here.
int __wrap_fsync(int handle);
int __wrap_linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags);
int __wrap_renameat(int fromFolder, const char* from, int toFolder, const char* to);

int __wrap_fsync(int handle) {
  if (Tracing) Calls.push_back({"fsync", handle});
  return __real_fsync(handle);
}
int __wrap_linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
  if (Tracing) Calls.push_back({"linkat", toFolder});
  return __real_linkat(fromFolder, from, toFolder, to, flags);
}
int __wrap_renameat(int fromFolder, const char* from, int toFolder, const char* to) {
  if (Tracing) Calls.push_back({"renameat", toFolder});
  return __real_renameat(fromFolder, from, toFolder, to);
}
}

namespace penamo {
namespace {

std::string Sequence() {
  std::string text;
  for (const TCall& call : Calls)
    text += call.Name + "(" + std::to_string(call.Handle) + ") ";
  return text;
}

TEST(SyncOrderTest, TheFileIsFlushedBeforeItIsNamedAndTheFolderAfterTheRename) {
  test::TTemporaryFolder folder;
  const std::string path = folder / "picture.bmp";
  TBitmap earlier;
  test::MakePicture24(earlier, 5, 5, [](std::int32_t i, std::int32_t y) { return i * y; });
  earlier.WriteBitmapFile(path);
  for (const TTemporaryNaming naming :
       {TTemporaryNaming::UnnamedWherePossible, TTemporaryNaming::Named}) {
    Calls.clear();
    int file = -1;
    bool unnamed = false;
    {
      TFileReplacement replacement(path, naming);
      file = replacement.Handle();
      unnamed = replacement.Unnamed();
      THandleStream out(file);
      out.WriteBuffer("BM", 2);
      Tracing = true;
      replacement.Commit();
      Tracing = false;
    }
    SCOPED_TRACE(Sequence());
    ASSERT_FALSE(Calls.empty());
    EXPECT_EQ(Calls.front().Name, "fsync");
    EXPECT_EQ(Calls.front().Handle, file) << "the new file's bytes are flushed first";
    const auto rename = std::find_if(Calls.begin(), Calls.end(),
                                     [](const TCall& call) { return call.Name == "renameat"; });
    ASSERT_NE(rename, Calls.end());
    ASSERT_NE(rename + 1, Calls.end()) << "the folder is flushed after the rename";
    EXPECT_EQ(rename[1].Name, "fsync");
    EXPECT_EQ(rename[1].Handle, rename->Handle);
    const auto link = std::find_if(Calls.begin(), Calls.end(),
                                   [](const TCall& call) { return call.Name == "linkat"; });
    if (unnamed) {
      ASSERT_NE(link, Calls.end());
      EXPECT_EQ(link - Calls.begin(), 1) << "an unnamed file is linked right after its flush";
    } else {
      EXPECT_EQ(link, Calls.end());
    }
  }
}

}  // namespace
}  // namespace penamo
