#include "FileReplacement.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <random>
#include <string_view>
#include <vector>

#include "Exceptions.h"

namespace penamo {

namespace {

// The folder of a path, kept as the path spells it, so a relative path stays relative.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The last part of a path: the name within its folder.
std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Temporary names say who made them: ".penamo-<process>-<host>-XXXXXX". A temporary file is
// left behind only when its process was killed outright at the wrong moment; any later save
// into the same folder on the same host removes the temporaries of processes that no longer run
// (RemoveStrandedTemporaries), so nothing stays behind for long.
constexpr std::string_view kTemporaryPrefix = ".penamo-";

std::string HostName() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "host";
  std::string name(host);
  // A slash could not be in a file name; a host name has none, but nothing is taken on trust.
  for (char& c : name)
    if (c == '/') c = '_';
  return name;
}

// The part of a temporary name before its random letters: ".penamo-<process>-<host>-".
std::string TemporaryStem(pid_t process) {
  static const std::string host = HostName();
  return std::string(kTemporaryPrefix) + std::to_string(process) + '-' + host + '-';
}

// Makes a fresh hidden name in the folder by make(candidate), which returns false with errno
// EEXIST when the name is taken. The name is returned through name; false (errno set) when no
// name could be made.
template <typename Make>
bool MakeTemporaryName(std::string& name, Make make) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  const std::string stem = TemporaryStem(::getpid());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = stem;
    for (int i = 0; i < 6; ++i)
      candidate += kLetters[random() % (sizeof kLetters - 1)];
    if (make(candidate)) {
      name = candidate;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// The process that made a temporary name of this host, or 0 for any other name (another
// host's, an older form's, a name of the user's own).
pid_t MakerOf(std::string_view name) {
  if (!name.starts_with(kTemporaryPrefix)) return 0;
  name.remove_prefix(kTemporaryPrefix.size());
  pid_t process = 0;
  std::size_t digits = 0;
  while (digits < name.size() && digits < 9 && name[digits] >= '0' && name[digits] <= '9')
    process = process * 10 + (name[digits++] - '0');
  if (digits == 0 || process <= 0) return 0;
  // The rest must be exactly this host's stem and six letters.
  const std::string stem = TemporaryStem(process);
  const std::string_view full = std::string_view(stem).substr(kTemporaryPrefix.size());
  if (name.size() != full.size() + 6 || !name.starts_with(full)) return 0;
  return process;
}

// Removes from the folder the temporary files that this user's saves on this host left when
// their process was killed (a process that no longer exists). A process that runs, of whatever
// kind, keeps its files: a live save is never disturbed.
void RemoveStrandedTemporaries(int folder) {
  const int handle = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (handle < 0) return;
  DIR* entries = ::fdopendir(handle);
  if (entries == nullptr) {
    ::close(handle);
    return;
  }
  std::vector<std::string> stranded;
  while (const dirent* entry = ::readdir(entries)) {
    const pid_t maker = MakerOf(entry->d_name);
    if (maker == 0 || maker == ::getpid()) continue;
    if (::kill(maker, 0) == 0 || errno != ESRCH) continue;
    struct stat st {};
    if (::fstatat(folder, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
    stranded.emplace_back(entry->d_name);
  }
  ::closedir(entries);
  for (const std::string& name : stranded)
    ::unlinkat(folder, name.c_str(), 0);
}

// The path through which an open file can be linked into a folder by an unprivileged user.
std::string DescriptorPath(int handle) {
  return "/proc/self/fd/" + std::to_string(handle);
}

// A new file in the folder with no name, or -1 where the file system (or the kernel) makes none,
// or where it could never be named (no /proc to link it through).
int CreateUnnamed(int folder) {
#if defined(O_TMPFILE)
  const int handle = ::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (handle < 0) return -1;
  if (::access(DescriptorPath(handle).c_str(), F_OK) == 0) return handle;
  ::close(handle);
#else
  static_cast<void>(folder);
#endif
  return -1;
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

}  // namespace

TFileReplacement::TFileReplacement(const std::string& path, TTemporaryNaming naming)
    : FPath(path), FTarget(ResolveLinks(path)) {
  // An empty name names no file at all; only a name that resolves to nothing is a loop.
  if (path.empty()) RaiseCreateError("target-name-empty", ENOENT);
  if (FTarget.empty()) RaiseCreateError("target-unresolvable", ELOOP);
  // A constructor that raises runs no destructor: undo here what Create got done.
  try {
    Create(naming);
  } catch (...) {
    Undo();
    throw;
  }
}

TFileReplacement::~TFileReplacement() {
  Undo();
}

void TFileReplacement::Undo() noexcept {
  if (FHandle >= 0) ::close(FHandle);
  FHandle = -1;
  FUnnamed = false;
  if (!FTemporary.empty()) ::unlinkat(FFolder, FTemporary.c_str(), 0);
  FTemporary.clear();
  FSave.Unnamed();
  if (FFolder >= 0) ::close(FFolder);
  FFolder = -1;
  if (FLock >= 0) ::close(FLock);
  FLock = -1;
}

// Checks that the target may be replaced and makes the temporary file beside it.
void TFileReplacement::Create(TTemporaryNaming naming) {
  mode_t mode = NewFileMode();
  struct stat st {};
  if (::stat(FTarget.c_str(), &st) == 0) {
    // Only a file we may write is replaced: never a folder or a device, never a read-only
    // file.
    if (!S_ISREG(st.st_mode))
      RaiseCreateError("target-not-a-writable-file", S_ISDIR(st.st_mode) ? EISDIR : 0);
    if (::access(FTarget.c_str(), W_OK) != 0) RaiseCreateError("target-not-a-writable-file", errno);
    // POSIX has no share modes; another program that holds an advisory lock on the file (as
    // this program's reader does while it reads) keeps it from being replaced.
    FLock = ::open(FTarget.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (FLock >= 0 && ::flock(FLock, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
      RaiseCreateError("target-locked", EWOULDBLOCK);
    mode = st.st_mode & 0777;
    FOwner = st.st_uid;
    FGroup = st.st_gid;
    FKeepOwner = true;
  } else if (errno != ENOENT) {
    RaiseCreateError("target-not-inspectable", errno);
  }
  FFolder = ::open(FolderOf(FTarget).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (FFolder < 0) RaiseCreateError("folder-not-opened", errno);
  RemoveStrandedTemporaries(FFolder);
  if (naming == TTemporaryNaming::UnnamedWherePossible) FHandle = CreateUnnamed(FFolder);
  FUnnamed = FHandle >= 0;
  if (!FUnnamed) {
    const bool made = MakeTemporaryName(FTemporary, [&](const std::string& name) {
      FHandle = ::openat(FFolder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      return FHandle >= 0;
    });
    if (!made) RaiseCreateError("temporary-not-created", errno);
    FSave.Named(FFolder, FTemporary);
  }
  if (::fchmod(FHandle, mode) != 0) RaiseCreateError("temporary-mode-not-set", errno);
  // Keeping the owner works only for a privileged user or within one's own groups; elsewhere
  // the new file belongs to whoever saves it, as a newly created file would.
  if (FKeepOwner) {
    [[maybe_unused]] const int ignored = ::fchown(FHandle, FOwner, FGroup);
  }
}

void TFileReplacement::Written(std::uint64_t offset, std::uint64_t size) {
  if (size == 0) return;
  if (FUnflushedFrom == FUnflushedTo) {
    FUnflushedFrom = offset;
    FUnflushedTo = offset + size;
  } else if (offset == FUnflushedTo) {
    FUnflushedTo += size;
  } else if (offset + size == FUnflushedFrom) {
    FUnflushedFrom = offset;
  } else {
    FUnflushedFrom = offset;
    FUnflushedTo = offset + size;
  }
  if (FUnflushedTo - FUnflushedFrom < kWriteBackBytes) return;
#if defined(__linux__)
  ::sync_file_range(FHandle, static_cast<off_t>(FUnflushedFrom),
                    static_cast<off_t>(FUnflushedTo - FUnflushedFrom), SYNC_FILE_RANGE_WRITE);
#endif
  FUnflushedFrom = FUnflushedTo = 0;
}

// Makes the written bytes durable, then puts the file in the target's place.
void TFileReplacement::Commit() {
  if (::fsync(FHandle) != 0) throw EWriteError(Msg::WriteError, "sync-failed", errno);
  if (FUnnamed && !FKeepOwner && LinkAsTarget()) return;
  if (FUnnamed) Link();
  const int handle = FHandle;
  FHandle = -1;
  if (::close(handle) != 0) throw EWriteError(Msg::WriteError, "close-failed", errno);
  // A folder removed meanwhile refuses the rename (and took the temporary file with it); a
  // folder moved meanwhile still holds both files, and the save completes there.
  if (::renameat(FFolder, FTemporary.c_str(), FFolder, NameOf(FTarget).c_str()) != 0)
    RaiseCreateError("rename-failed", errno);
  FTemporary.clear();
  FSave.Unnamed();
  // The rename itself lasts only once the folder is on the disk too; the file is already
  // complete, so a failure here loses nothing the user could act on.
  ::fsync(FFolder);
}

// Where no file was there to replace, the complete file is linked straight to the target's name:
// it never has another name, so nothing can be left behind. False, having changed nothing, when
// a file has appeared under the name meanwhile (it is then replaced as any other) or the link is
// refused; the save goes on through a temporary name.
bool TFileReplacement::LinkAsTarget() {
  const std::string source = DescriptorPath(FHandle);
  if (::linkat(AT_FDCWD, source.c_str(), FFolder, NameOf(FTarget).c_str(), AT_SYMLINK_FOLLOW) != 0)
    return false;
  const int handle = FHandle;
  FHandle = -1;
  FUnnamed = false;
  // The file is complete and in place: a failing close or folder flush loses nothing.
  ::close(handle);
  ::fsync(FFolder);
  return true;
}

// The complete file gets a hidden name only now, for the moment until the rename. A link
// straight to the target's name would refuse an existing target, and the rename is what replaces
// it in one step.
void TFileReplacement::Link() {
  const std::string source = DescriptorPath(FHandle);
  const bool linked = MakeTemporaryName(FTemporary, [&](const std::string& name) {
    return ::linkat(AT_FDCWD, source.c_str(), FFolder, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
  });
  // A folder removed meanwhile takes no new name.
  if (!linked) RaiseCreateError("link-failed", errno);
  FUnnamed = false;
  FSave.Named(FFolder, FTemporary);
}

void TFileReplacement::RaiseCreateError(const char* reason, int error) const {
  throw EFCreateError(Msg::FCreateError(FPath), reason, error);
}

}  // namespace penamo
