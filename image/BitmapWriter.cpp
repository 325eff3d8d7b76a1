// Writing bitmap files. A 24-bit picture's storage already holds the file's rows, bottom row
// first with the file's stride and zero pad bytes, so the pixels go out as one block straight
// from the storage after the two headers.
//
// Saving never destroys what the user had: the file is written beside the target under a
// temporary name, flushed to the disk, and only then renamed into the target's place. Until that
// rename the earlier file is untouched; after it, the new file is complete.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "LittleEndian.h"
#include "Stream.h"

namespace penamo {

namespace {

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;

using LittleEndian::Put16;
using LittleEndian::Put32;

// The folder of a path, kept as the path spells it, so a relative path stays relative.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows symbolic links to the file they finally name, so that saving through a link writes
// the linked file and keeps the link. A path that does not exist (yet) is its own target.
// Returns an empty string for a loop of links.
std::string ResolveLinks(const std::string& path) {
  std::string target = path;
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
    std::vector<char> link(PATH_MAX + 1);
    const ssize_t length = ::readlink(target.c_str(), link.data(), link.size() - 1);
    if (length <= 0) return {};
    const std::string next(link.data(), static_cast<std::size_t>(length));
    const std::size_t slash = target.rfind('/');
    target = next.front() == '/' || slash == std::string::npos ? next
                                                               : target.substr(0, slash + 1) + next;
  }
  return {};
}

mode_t NewFileMode() {
  // The umask can only be read by setting it; the program runs on one thread, so putting it
  // straight back races with nothing.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// The temporary file of one save, and the lock on the file it replaces. Whatever has not been
// committed is undone on destruction: the temporary file is closed and removed.
class TReplacement {
 public:
  TReplacement(const std::string& path, const std::string& target) : FPath(path), FTarget(target) {}
  TReplacement(const TReplacement&) = delete;
  TReplacement& operator=(const TReplacement&) = delete;

  ~TReplacement() {
    if (FHandle >= 0) ::close(FHandle);
    if (!FTemporary.empty()) ::unlink(FTemporary.c_str());
    if (FLock >= 0) ::close(FLock);
  }

  // Checks that the target may be replaced and makes the temporary file beside it.
  void Create() {
    mode_t mode = NewFileMode();
    struct stat st {};
    if (::stat(FTarget.c_str(), &st) == 0) {
      // Only a file we may write is replaced: never a folder or a device, never a read-only
      // file.
      if (!S_ISREG(st.st_mode) || ::access(FTarget.c_str(), W_OK) != 0) RaiseCreateError();
      // POSIX has no share modes; another program that holds an advisory lock on the file (as
      // this program's reader does while it reads) keeps it from being replaced.
      FLock = ::open(FTarget.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
      if (FLock >= 0 && ::flock(FLock, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        RaiseCreateError();
      mode = st.st_mode & 0777;
      FOwner = st.st_uid;
      FGroup = st.st_gid;
      FKeepOwner = true;
    } else if (errno != ENOENT) {
      RaiseCreateError();
    }
    std::string name = FolderOf(FTarget) + "/.penamo-XXXXXX";
    FHandle = ::mkostemp(name.data(), O_CLOEXEC);
    if (FHandle < 0) RaiseCreateError();
    FTemporary = name;
    if (::fchmod(FHandle, mode) != 0) RaiseCreateError();
    // Keeping the owner works only for a privileged user or within one's own groups; elsewhere
    // the new file belongs to whoever saves it, as a newly created file would.
    if (FKeepOwner) {
      [[maybe_unused]] const int ignored = ::fchown(FHandle, FOwner, FGroup);
    }
  }

  int Handle() const { return FHandle; }

  // Makes the written bytes durable, then puts the file in the target's place.
  void Commit() {
    if (::fsync(FHandle) != 0) throw EWriteError(Msg::WriteError);
    const int handle = FHandle;
    FHandle = -1;
    if (::close(handle) != 0) throw EWriteError(Msg::WriteError);
    if (::rename(FTemporary.c_str(), FTarget.c_str()) != 0) RaiseCreateError();
    FTemporary.clear();
    // The rename itself lasts only once the folder is on the disk too; the file is already
    // complete, so a failure here loses nothing the user could act on.
    const int folder = ::open(FolderOf(FTarget).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
      ::fsync(folder);
      ::close(folder);
    }
  }

 private:
  [[noreturn]] void RaiseCreateError() const { throw EFCreateError(Msg::FCreateError(FPath)); }

  const std::string& FPath;  // as the caller passed it, for the message
  std::string FTarget;
  std::string FTemporary;
  int FHandle = -1;
  int FLock = -1;
  bool FKeepOwner = false;
  uid_t FOwner = 0;
  gid_t FGroup = 0;
};

}  // namespace

void TBitmap::WriteBitmapStream(TStream& stream) const {
  const TBitmapImage& image = Image();
  if (!image.HasPixels()) return;
  const TBitmapInfoHeader& description = image.Description.Header;
  // Only 24-bit pictures are written (the device format is 24-bit rows as well); any other
  // picture is refused before a byte is written.
  if (image.BitsPerPixel() != 24 || (!image.DeviceFormat() && description.biCompression != BI_RGB))
    throw EInvalidGraphic(Msg::InvalidPixelFormat);
  const std::uint64_t pixelBytes = image.ByteSize();
  const std::uint64_t fileSize = kFileHeaderSize + kInfoHeaderSize + pixelBytes;
  // The file's size fields have 32 bits; a picture beyond them has no bitmap file.
  if (fileSize > UINT32_MAX) throw EInvalidGraphic(Msg::InvalidPixelFormat);

  std::uint8_t fileHeader[kFileHeaderSize] = {};
  fileHeader[0] = 'B';
  fileHeader[1] = 'M';
  Put32(fileHeader + 2, static_cast<std::uint32_t>(fileSize));
  Put32(fileHeader + 10, kFileHeaderSize + kInfoHeaderSize);

  // The description as held, except what would not match the bytes written: no colour table
  // follows, so no colour count is written, and the sizes are the storage's own. The height's
  // sign is the order of the rows in the storage.
  std::uint8_t infoHeader[kInfoHeaderSize] = {};
  Put32(infoHeader + 0, kInfoHeaderSize);
  Put32(infoHeader + 4, static_cast<std::uint32_t>(image.Width()));
  Put32(infoHeader + 8,
        static_cast<std::uint32_t>(image.BottomUp() || image.DeviceFormat() ? image.Height()
                                                                            : -image.Height()));
  Put16(infoHeader + 12, 1);
  Put16(infoHeader + 14, 24);
  Put32(infoHeader + 16, BI_RGB);
  Put32(infoHeader + 20, static_cast<std::uint32_t>(pixelBytes));
  Put32(infoHeader + 24, static_cast<std::uint32_t>(description.biXPelsPerMeter));
  Put32(infoHeader + 28, static_cast<std::uint32_t>(description.biYPelsPerMeter));

  stream.WriteBuffer(fileHeader, kFileHeaderSize);
  stream.WriteBuffer(infoHeader, kInfoHeaderSize);
  stream.WriteBuffer(image.Pixels(), static_cast<std::int64_t>(pixelBytes));
}

void TBitmap::WriteBitmapFile(const std::string& path) const {
  const std::string target = ResolveLinks(path);
  if (target.empty()) throw EFCreateError(Msg::FCreateError(path));
  TReplacement replacement(path, target);
  replacement.Create();
  THandleStream stream(replacement.Handle());
  WriteBitmapStream(stream);
  replacement.Commit();
}

}  // namespace penamo
