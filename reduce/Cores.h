// Sharing independent work between the cores.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace penamo {

// How many parts a piece of work of the given number of pixels is worth splitting into: one for
// small pictures (a thread costs more than it saves there), else one per core, at most a few.
int PartsWorthRunning(std::size_t pixels);

// Runs work(part, parts) for every part 0..parts-1 at the same time, part 0 on the calling
// thread, and returns when all have finished. parts is at most wanted; it is smaller when no
// more threads could be started, and every part knows the final count before it begins, so
// parts may wait for one another. work must not throw.
void RunInParts(int wanted, const std::function<void(int part, int parts)>& work);

// Threads kept for a run of many short pieces of work (the bands of a save), so that a piece
// costs no thread start: helpers wait between pieces and all parts of a piece run at once.
class TPartPool {
 public:
  // Starts wanted - 1 helpers, or as many as can be started.
  explicit TPartPool(int wanted);
  ~TPartPool();
  TPartPool(const TPartPool&) = delete;
  TPartPool& operator=(const TPartPool&) = delete;

  int Parts() const { return static_cast<int>(FHelpers.size()) + 1; }

  // Runs work(part, Parts()) for every part at the same time, part 0 on the calling thread, and
  // returns when all have finished. work must not throw.
  void Run(const std::function<void(int part, int parts)>& work);

 private:
  void Help(int part);

  std::mutex FMutex;
  std::condition_variable FWake;
  std::condition_variable FDone;
  const std::function<void(int, int)>* FWork = nullptr;
  std::uint64_t FGeneration = 0;
  int FPending = 0;
  bool FStop = false;
  std::vector<std::thread> FHelpers;
};

// Runs rows(begin, end) over runs of the rows first .. first + count - 1 on every part of pool,
// each part taking the next run not yet taken, so that a part whose thread waits for a core
// (another program holds it) delays the others by one short run at most. Every row is done
// exactly once; rows must be independent of one another. rows must not throw.
void ShareRows(TPartPool& pool, std::int32_t first, std::int32_t count,
               const std::function<void(std::int32_t begin, std::int32_t end)>& rows);

}  // namespace penamo
