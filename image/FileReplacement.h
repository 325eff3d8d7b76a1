// Replacing a file without ever destroying what the user had: every save writes a new file in
// the target's folder, flushes it to the disk, and only then renames it into the target's place.
// Until that rename the earlier file is untouched; after it, the new file is complete. Where the
// file system allows (Linux's O_TMPFILE), the new file has no name at all until it is complete,
// so a save ended by anything (SIGKILL, a power cut) leaves nothing behind; a new file then
// never has any name but its own. Elsewhere it is written under a hidden temporary name that an
// interrupting signal removes (SaveInterruption.h), and one that a killed process left is
// removed by the next save into its folder. Every writer (whatever the format) saves through this
// one class.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "SaveInterruption.h"

namespace penamo {

enum class TTemporaryNaming {
  UnnamedWherePossible,  // named only once complete, where the file system allows
  Named,                 // a hidden temporary name from the start, on every file system
};

class TFileReplacement {
 public:
  // Resolves symbolic links (saving through a link writes the file it names and keeps the
  // link), checks the target may be replaced (a regular file we may write, not locked by another
  // program), and makes the temporary file beside it with the target's permission bits (a new
  // file: 0666 less the umask). Raises EFCreateError naming path exactly as passed.
  explicit TFileReplacement(const std::string& path,
                            TTemporaryNaming naming = TTemporaryNaming::UnnamedWherePossible);
  TFileReplacement(const TFileReplacement&) = delete;
  TFileReplacement& operator=(const TFileReplacement&) = delete;
  // Whatever has not been committed is undone: the temporary file is closed and removed.
  ~TFileReplacement();

  // The temporary file, open for writing (and reading, and positioned writes).
  int Handle() const { return FHandle; }
  // Whether the file being written has no name yet (until Commit).
  bool Unnamed() const { return FUnnamed; }

  // Tells that size bytes at offset were written. Once kWriteBackBytes written bytes lie
  // together, the system is asked to start putting them on the disk, so that the flush at Commit
  // finds little left to do instead of the whole file. Ranges next to the ones before (after
  // them, or before them for a file written from its end) gather; any other starts anew. Only
  // a request: a failure is found again, and raised, by the flush at Commit.
  void Written(std::uint64_t offset, std::uint64_t size);

  // Makes the written bytes durable, then puts the file in the target's place. Raises
  // EWriteError when the bytes cannot be flushed, EFCreateError when the rename fails; the
  // earlier file is then as it was.
  void Commit();

 private:
  void Create(TTemporaryNaming naming);
  // Links the unnamed file straight to the target's name where none is there.
  bool LinkAsTarget();
  // Gives the unnamed file a temporary name, so that it can be renamed over the target.
  void Link();
  // Closes and removes the temporary file and drops the lock.
  void Undo() noexcept;
  // error: the errno of the call that failed.
  [[noreturn]] void RaiseCreateError(const char* reason, int error) const;

  // Written bytes the disk was not yet asked to start on: FUnflushedFrom to FUnflushedTo.
  static constexpr std::uint64_t kWriteBackBytes = std::uint64_t{8} << 20;
  std::uint64_t FUnflushedFrom = 0;
  std::uint64_t FUnflushedTo = 0;

  std::string FPath;  // as the caller passed it, for the message
  std::string FTarget;
  // The target's folder, held open from the start: the temporary file is made, renamed and
  // removed through it, so a folder moved or removed while the file is written never strands
  // the temporary file under a path that no longer leads to it.
  int FFolder = -1;
  std::string FTemporary;  // the temporary file's name within FFolder (empty: none)
  int FHandle = -1;
  bool FUnnamed = false;
  // Ends after the destructor's Undo: a signal deferred during the save is delivered only once
  // the save is committed or undone.
  TSaveInProgress FSave;
  int FLock = -1;
  bool FKeepOwner = false;
  uid_t FOwner = 0;
  gid_t FGroup = 0;
};

}  // namespace penamo
