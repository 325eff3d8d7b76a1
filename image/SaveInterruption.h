// What a signal that ends the program does to a save in progress. A save's new file is written
// unnamed where the file system allows, so nothing of it outlives the process whatever ends it;
// where it must have a temporary name, the handlers installed here remove that name before the
// program ends, so an interrupted save leaves the earlier file as it was and nothing beside it.
#pragma once

#include <string>

namespace penamo {

enum class TInterruptionPolicy {
  // The command line: SIGINT, SIGTERM and SIGHUP remove every temporary file at once and end
  // the program by the same signal (a shell sees 128 + the signal's number).
  Abandon,
  // The window: a save in progress runs to its end (committed or undone) before the program
  // ends by the signal; with no save in progress the signal ends the program at once.
  Finish,
};

// Installs the handlers for every signal sent from outside that ends the program by default
// (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGIO,
// SIGXCPU, SIGPWR; a signal the program was started with ignored, as nohup does, stays ignored)
// and ignores SIGXFSZ and SIGPIPE, so that a file-size limit or a closed pipe turns into a
// failed write, reported as one, instead of ending the program without a word.
void HandleInterruptions(TInterruptionPolicy policy);

// One save, from its first byte to its commit or undo, as the handlers see it. Owned by the
// file replacement; every member may be called with or without handlers installed.
class TSaveInProgress {
 public:
  TSaveInProgress();
  // The save is over: a signal deferred meanwhile (TInterruptionPolicy::Finish) ends the
  // program now.
  ~TSaveInProgress();
  TSaveInProgress(const TSaveInProgress&) = delete;
  TSaveInProgress& operator=(const TSaveInProgress&) = delete;

  // The temporary file has the name within the folder (an open descriptor) from now on; a
  // handler that ends the program removes it.
  void Named(int folder, const std::string& name) noexcept;
  // The temporary name is gone (renamed into place or removed).
  void Unnamed() noexcept;

 private:
  int FSlot = -1;
};

}  // namespace penamo
