// Sharing independent work between the cores.
#pragma once

#include <cstddef>
#include <functional>

namespace penamo {

// How many parts a piece of work of the given number of pixels is worth splitting into: one for
// small pictures (a thread costs more than it saves there), else one per core, at most a few.
int PartsWorthRunning(std::size_t pixels);

// Runs work(part, parts) for every part 0..parts-1 at the same time, part 0 on the calling
// thread, and returns when all have finished. parts is at most wanted; it is smaller when no
// more threads could be started, and every part knows the final count before it begins, so
// parts may wait for one another. work must not throw.
void RunInParts(int wanted, const std::function<void(int part, int parts)>& work);

}  // namespace penamo
