#include "ProgramRun.h"

#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace penamo::test {
namespace {

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Starts the program with the prepared file actions.
pid_t Spawn(const std::vector<std::string>& args, posix_spawn_file_actions_t& actions) {
  std::vector<std::string> words{PENAMO_FILTER_PROGRAM};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  const int failed = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) throw std::runtime_error("penamo-filter could not be started");
  return child;
}

int Wait(pid_t child) {
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("penamo-filter could not be waited for");
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

TProgramRun RunFilter(const std::vector<std::string>& args, const TTemporaryFolder& folder) {
  const std::string out = folder / ".stdout";
  const std::string err = folder / ".stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  TProgramRun run;
  run.Exit = Wait(Spawn(args, actions));
  run.Out = FileText(out);
  run.Err = FileText(err);
  ::unlink(out.c_str());
  ::unlink(err.c_str());
  return run;
}

TProgramRun RunFilterOnTerminal(const std::vector<std::string>& args,
                                const TTemporaryFolder& folder) {
  int master = -1;
  int slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
    throw std::runtime_error("no pseudo-terminal");
  const std::string out = folder / ".stdout";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, slave, 2);
  posix_spawn_file_actions_addclose(&actions, master);
  posix_spawn_file_actions_addclose(&actions, slave);
  pid_t child = 0;
  try {
    child = Spawn(args, actions);
  } catch (...) {
    ::close(master);
    ::close(slave);
    throw;
  }
  // Only the child holds the terminal's far end now, so reading ends (EIO) when the child does.
  ::close(slave);
  TProgramRun run;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(master, buffer, sizeof buffer);
    if (got > 0) {
      run.Err.append(buffer, static_cast<std::size_t>(got));
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  ::close(master);
  run.Exit = Wait(child);
  run.Out = FileText(out);
  ::unlink(out.c_str());
  return run;
}

}  // namespace penamo::test
