// The window's answer to a file that claims far more pixels than it holds (the claim rule of
// Limits.h): rather than refuse it, the user is asked, with the claimed size named, and the
// file is read only on yes.
#pragma once

#include <functional>

#include "Limits.h"

namespace penamo {

// Runs read through run (the window runs it on its long-work thread). When the claim rule
// refuses the file, asks ask with the claim; on yes runs read once more through run with the
// rule lifted for that read alone, on no raises EAbort (the open ends with nothing said, as a
// cancelled dialog ends it). Every other refusal passes unchanged.
void ReadAskingOverClaims(const std::function<void(const std::function<void()>&)>& run,
                          const std::function<void()>& read,
                          const std::function<bool(const TClaim&)>& ask);

// The question in a message box of the application: true for 開く.
bool AskToReadClaim(const TClaim& claim);

}  // namespace penamo
