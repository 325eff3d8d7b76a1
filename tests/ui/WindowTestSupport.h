// Shared by the window tests: pictures made on the spot, their pixels, and the seams through
// which a test answers the file dialogs and reads the message boxes.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdint>
#include <optional>
#include <vector>

#include "Application.h"
#include "Bitmap.h"
#include "Dialogs.h"

namespace penamo::testing {

// The bytes of the file at path; empty when it cannot be read.
inline QByteArray FileBytes(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

// A 24-bit picture whose every pixel differs from its neighbours in all three colours, so that
// a shifted or mirrored copy never compares equal.
inline void MakeTestPicture(TBitmap& bitmap, std::int32_t width, std::int32_t height) {
  bitmap.SetImageFormat(TPixelFormat::pf24bit);
  bitmap.SetWidth(width);
  bitmap.SetHeight(height);
  for (std::int32_t y = 0; y < height; ++y) {
    std::uint8_t* row = bitmap.RowAddress(y);
    for (std::int32_t x = 0; x < width; ++x) {
      row[3 * x] = static_cast<std::uint8_t>(x * 3 + y);
      row[3 * x + 1] = static_cast<std::uint8_t>(x + y * 2);
      row[3 * x + 2] = static_cast<std::uint8_t>(255 - x - y);
    }
  }
}

// The picture's pixel bytes, row after row from the top, without padding.
inline std::vector<std::uint8_t> PixelsOf(const TBitmap& bitmap) {
  std::vector<std::uint8_t> pixels;
  for (std::int32_t y = 0; y < bitmap.Height(); ++y) {
    const std::uint8_t* row = bitmap.ConstRowAddress(y);
    if (row == nullptr) break;
    pixels.insert(pixels.end(), row, row + 3 * static_cast<std::size_t>(bitmap.Width()));
  }
  return pixels;
}

// The part of `source` from (left, top), width x height, copied row by row.
inline void CopyPart(const TBitmap& source, std::int32_t left, std::int32_t top, std::int32_t width,
                     std::int32_t height, TBitmap& part) {
  part.SetImageFormat(TPixelFormat::pf24bit);
  part.SetWidth(width);
  part.SetHeight(height);
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* from = source.ConstRowAddress(top + y) + 3 * left;
    std::copy(from, from + 3 * width, part.RowAddress(y));
  }
}

// Answers every file dialog with the queued names (std::nullopt: cancel) and counts the
// dialogs, keeping the name each offered; catches every message box, and answers every asking
// box with the queued button indexes (none left: cancel). The seams are put back when the test
// ends.
class TDialogSeams {
 public:
  TDialogSeams() {
    TOpenDialog::TestResponder = [this](TOpenDialog& dialog) -> std::optional<QString> {
      ++DialogsShown;
      LastWasSave = dialog.IsSaveDialog();
      OfferedNames.push_back(dialog.FileName());
      if (Answers.empty()) return std::nullopt;
      // Taken apart rather than copied whole: GCC 12 sees an optional QString copied here as
      // perhaps uninitialised.
      const bool cancel = !Answers.front().has_value();
      QString answer = cancel ? QString() : *Answers.front();
      Answers.erase(Answers.begin());
      if (cancel) return std::nullopt;
      return answer;
    };
    Application->MessageBoxShower = [this](const TMessageBoxRequest& request) {
      Boxes.push_back(request);
    };
    Application->QuestionBoxAnswerer = [this](const TMessageBoxRequest& request,
                                              const QStringList& buttons) {
      Questions.push_back({request, buttons});
      if (ButtonAnswers.empty()) return -1;
      const int answer = ButtonAnswers.front();
      ButtonAnswers.erase(ButtonAnswers.begin());
      return answer;
    };
  }
  ~TDialogSeams() {
    TOpenDialog::TestResponder = nullptr;
    Application->MessageBoxShower = nullptr;
    Application->QuestionBoxAnswerer = nullptr;
  }
  TDialogSeams(const TDialogSeams&) = delete;
  TDialogSeams& operator=(const TDialogSeams&) = delete;

  void Answer(const QString& fileName) { Answers.push_back(fileName); }

  std::vector<std::optional<QString>> Answers;
  int DialogsShown = 0;
  bool LastWasSave = false;
  std::vector<TMessageBoxRequest> Boxes;
  std::vector<QString> OfferedNames;
  struct TQuestion {
    TMessageBoxRequest Request;
    QStringList Buttons;
  };
  std::vector<TQuestion> Questions;
  std::vector<int> ButtonAnswers;
};

}  // namespace penamo::testing
