// GIF pictures through giflib: the first frame, composed on the logical screen as a viewer
// shows it before the animation moves on. Where the frame does not cover the screen, and where
// its graphics control extension names a transparent colour, the picture is transparent (the
// extras' alpha plane).
#pragma once

#include <cstddef>
#include <cstdint>

#include "Bitmap.h"
#include "PictureExtras.h"

namespace penamo {

// Reads the GIF file held in data. The picture and extras are replaced only when the first
// frame has been read whole. A truncated or damaged file is refused (EReadError,
// EInvalidGraphic with "GIF イメージが不正です"); a picture over the storage limit raises
// EOutOfResources before its pixels are allocated. A screen smaller than the first frame grows
// to hold it, so no pixel of the frame is lost.
void ReadGif(const std::uint8_t* data, std::size_t size, TBitmap& picture, TPictureExtras& extras);

}  // namespace penamo
