// The kind of a picture file, told by its first bytes (never by its name), and the formats this
// tool reads, for the open dialog's entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace penamo {

enum class TPictureKind { Bitmap, Png, Jpeg, Tiff, WebP };

// The bytes needed to tell every kind apart.
inline constexpr std::size_t kPictureSignatureSize = 12;

// The kind whose signature starts head. Anything unrecognised is taken for a bitmap, so the
// bitmap reader refuses it with its own message as before.
TPictureKind PictureKindOf(const std::uint8_t* head, std::size_t size);

struct TPictureFormat {
  TPictureKind Kind;
  const char* Name;                     // "PNG"
  std::vector<std::string> Extensions;  // lower case, without the dot: "png"
};

// Every format read, the bitmap first.
const std::vector<TPictureFormat>& PictureFormats();

}  // namespace penamo
