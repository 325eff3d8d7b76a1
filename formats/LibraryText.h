// Codec libraries built to print their own diagnostics: Debian's libjxl writes a line to
// standard error for every failure it meets in a damaged file, from every thread of its pool,
// so that a damaged JPEG XL file would put a dozen lines of the library's text, in a different
// order on every run, around the program's own message.
#pragma once

namespace penamo::formats {

// Makes the shared library holding the function at address print nothing of its own: its calls
// of the C library's print functions (printf, fprintf, vfprintf and their checked forms, puts,
// fputs, fputc, fwrite, perror) are pointed at functions that drop what goes to standard output
// or error and pass the rest on. Only that library's imports change: every other caller of the
// print functions, this program's own messages and other threads' output included, is untouched,
// and no descriptor is moved. Nothing happens for an address in the program itself or in no
// library; each library is changed once, whatever the number of calls and threads.
void SilenceLibraryText(const void* address);

}  // namespace penamo::formats
