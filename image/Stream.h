// Byte streams: the only way image/ reads or writes bytes, so that the bitmap reader and writer
// can be exercised on memory as well as on files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Interface.h"

namespace penamo {

enum class TSeekOrigin { Beginning, Current, End };

class TStream : public TInterface {
 public:
  // Lenient: as many bytes as the stream delivers, up to count; never raises.
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  // The count actually written; 0 when the underlying write fails.
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  // The new position, or -1 when the stream cannot seek there.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

  std::int64_t Position() { return Seek(0, TSeekOrigin::Current); }
  std::int64_t Size();

  // Strict: EReadError / EWriteError when fewer bytes move than asked; a count of 0 always
  // succeeds.
  void ReadBuffer(void* buffer, std::int64_t count);
  void WriteBuffer(const void* buffer, std::int64_t count);
};

// A growable block of memory; reads past the end deliver nothing.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<std::uint8_t> bytes) : FBytes(std::move(bytes)) {}

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

  const std::vector<std::uint8_t>& Bytes() const { return FBytes; }

 private:
  std::vector<std::uint8_t> FBytes;
  std::int64_t FPosition = 0;
};

// A stream over an open POSIX file descriptor; does not own it.
class THandleStream : public TStream {
 public:
  explicit THandleStream(int handle) : FHandle(handle) {}

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

  int Handle() const { return FHandle; }

 protected:
  int FHandle;
};

// A file opened for reading: an existing regular file that nobody holds for writing. Raises
// EFOpenError naming the path exactly as passed when it cannot be opened, and when another
// holder has an exclusive lock on it.
class TFileStream : public THandleStream {
 public:
  explicit TFileStream(const std::string& path);
  ~TFileStream() override;

  const std::string& FileName() const { return FFileName; }

 private:
  std::string FFileName;
};

// Whether a refused shared lock (its errno) means that another holder has the file locked for
// writing, rather than that the file system keeps no locks.
bool LockHeldElsewhere(int error);

}  // namespace penamo
