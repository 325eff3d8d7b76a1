// The pictures built into the program: the button glyph strips and the program icon. They are
// stored as bitmap files among the program's resources and read through the program's own
// bitmap reader, the one that reads the bitmap files the user opens.
#pragma once

#include <QIcon>
#include <string_view>

#include "Bitmap.h"

namespace penamo {

// Names of the built-in pictures.
namespace Pictures {
inline constexpr std::string_view Open = "open.bmp";              // yellow folder, 256 colours
inline constexpr std::string_view SampleView = "sampleview.bmp";  // dithered landscape
inline constexpr std::string_view FullView = "fullview.bmp";      // plain landscape
inline constexpr std::string_view Compare = "compare.bmp";        // plain | dithered landscape
inline constexpr std::string_view Version = "version.bmp";        // small window
inline constexpr std::string_view Exit = "exit.bmp";              // open door
inline constexpr std::string_view Save = "save.bmp";              // floppy disk and its twin
inline constexpr std::string_view Icon = "icon.bmp";              // the program icon, 32 x 32
}  // namespace Pictures

// Reads a built-in picture into `bitmap` as it is stored (its own pixel format). Raises the
// reader's errors should the stored picture be unreadable, and EFOpenError for an unknown name.
void LoadPicture(TBitmap& bitmap, std::string_view name);

// The program icon for the application and its windows: the stored picture with the colour of
// its bottom-left pixel, the surround, made transparent.
QIcon MainIcon();

}  // namespace penamo
