// Why a file could not be read or written, in the user's words: the line the command line
// prints under an error's message and the window's error box shows under it, worded once here.
#pragma once

#include <string>

#include "Exceptions.h"

namespace penamo {

// What the system's error code `error` (an errno value) means for a file: "アクセス権がありません"
// and the like; an unknown code is named by its number.
std::string CauseOf(int error);

// The cause of `error` for the file at `path`: "ファイル <path>: <cause>". The cause is the
// system's (CauseOf) when a system call failed; otherwise, for a file whose data ended before
// the picture did, where it ended (the file's length), and for a damaged picture that it is
// damaged, and where when the reader could tell (Exception::DamagedByte). Empty when there is
// nothing to add to the message (an unsupported kind, memory).
std::string FailureCauseLine(const Exception& error, const std::string& path);

// Whether `error` came from writing a file (creating or writing it) rather than reading one.
bool IsWriteFailure(const Exception& error);

}  // namespace penamo
