#include "Stream.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Exceptions.h"

namespace penamo {

std::int64_t TStream::Size() {
  const std::int64_t position = Seek(0, TSeekOrigin::Current);
  const std::int64_t size = Seek(0, TSeekOrigin::End);
  Seek(position, TSeekOrigin::Beginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  if (count == 0) return;
  // A stream that fails leaves the system's reason in errno; one that merely ends early, none.
  errno = 0;
  if (Read(buffer, count) != count) throw EReadError(Msg::ReadError, "short-read", errno);
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count == 0) return;
  // A stream that fails leaves the system's reason in errno; one that merely stops short, none.
  errno = 0;
  if (Write(buffer, count) != count) throw EWriteError(Msg::WriteError, "short-write", errno);
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  const auto size = static_cast<std::int64_t>(FBytes.size());
  if (count <= 0 || FPosition >= size) return 0;
  const std::int64_t n = std::min(count, size - FPosition);
  std::memcpy(buffer, FBytes.data() + FPosition, static_cast<std::size_t>(n));
  FPosition += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  const auto end = static_cast<std::size_t>(FPosition + count);
  if (end > FBytes.size()) FBytes.resize(end);
  std::memcpy(FBytes.data() + FPosition, buffer, static_cast<std::size_t>(count));
  FPosition += count;
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t base = 0;
  if (origin == TSeekOrigin::Current) base = FPosition;
  if (origin == TSeekOrigin::End) base = static_cast<std::int64_t>(FBytes.size());
  if (base + offset < 0) return -1;
  FPosition = base + offset;
  return FPosition;
}

std::int64_t THandleStream::Read(void* buffer, std::int64_t count) {
  // A read may deliver less than asked without being at the end (signals, pipes), so keep
  // asking until the count is met or the file has nothing more.
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(
        FHandle, out + done,
        static_cast<std::size_t>(std::min<std::int64_t>(count - done, std::int64_t{1} << 30)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

std::int64_t THandleStream::Write(const void* buffer, std::int64_t count) {
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(
        FHandle, in + done,
        static_cast<std::size_t>(std::min<std::int64_t>(count - done, std::int64_t{1} << 30)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;  // a failed write counts as nothing written
    done += n;
  }
  return done;
}

std::int64_t THandleStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  const int whence = origin == TSeekOrigin::Beginning ? SEEK_SET
                     : origin == TSeekOrigin::Current ? SEEK_CUR
                                                      : SEEK_END;
  const off_t result = ::lseek(FHandle, static_cast<off_t>(offset), whence);
  return result < 0 ? -1 : static_cast<std::int64_t>(result);
}

TFileStream::TFileStream(const std::string& path) : THandleStream(-1), FFileName(path) {
  // Without O_NONBLOCK, opening a named pipe would wait for a writer that may never come.
  FHandle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (FHandle < 0) throw EFOpenError(Msg::FOpenError(path), "open-failed", errno);
  struct stat st {};
  // Folders, pipes and devices open on POSIX, but none of them is a file that can be read as
  // a picture (a pipe or a terminal would make the reader wait forever).
  if (::fstat(FHandle, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int error = S_ISDIR(st.st_mode) ? EISDIR : 0;
    ::close(FHandle);
    throw EFOpenError(Msg::FOpenError(path), "not-a-regular-file", error);
  }
  ::fcntl(FHandle, F_SETFL, ::fcntl(FHandle, F_GETFL) & ~O_NONBLOCK);
  // Others may read while we read; a cooperating writer that takes an exclusive lock waits. A
  // file someone holds for writing (an exclusive lock) is refused at once, never waited for; a
  // file system that keeps no locks at all is read as any other.
  int locked;
  do {
    locked = ::flock(FHandle, LOCK_SH | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0 && LockHeldElsewhere(errno)) {
    ::close(FHandle);
    throw EFOpenError(Msg::FOpenError(path), "locked-for-writing", EWOULDBLOCK);
  }
}

bool LockHeldElsewhere(int error) {
  return error == EWOULDBLOCK;  // EAGAIN on Linux
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

}  // namespace penamo
