// Files of a few bytes that claim pictures of gigapixels, one per format and coding, made byte by
// byte (or by an encoder and then their size fields changed): what every read must refuse
// before it allocates anything for them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace penamo::test {

struct THostilePicture {
  std::string Name;    // for the test's name and the fuzz corpus
  std::string Reason;  // the refusal every read gives
  std::vector<std::uint8_t> Bytes;
};

// A 54-byte bitmap header claiming width × height at 24 bits, then pixelBytes of zeros.
std::vector<std::uint8_t> BitmapHeaderOnly(std::int32_t width, std::int32_t height,
                                           std::size_t pixelBytes = 0);

// A bare JPEG XL codestream claiming side × side around no real frame: 79 bytes in colour, 78
// in grey (whose decoder still takes three float planes a pixel).
std::vector<std::uint8_t> JxlSquare(std::uint32_t side, bool grey);

// Every hostile file of the table, each under a few kilobytes.
std::vector<THostilePicture> HostilePictures();

}  // namespace penamo::test
