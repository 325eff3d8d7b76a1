// How long a progressive JPEG with more scans than the reader takes is refused: a large
// greyscale picture written with a scan script of many small scans (each AC coefficient alone,
// refined a bit at a time), then read whole and opened band by band, each refusal timed. A
// measuring tool only.
//
//   penamo_jpeg_scans_bench [WIDTH HEIGHT SCANS ROUNDS]   default 8000 8000 631 7
// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "Exceptions.h"
#include "PictureExtras.h"
#include "PictureFile.h"
#include "RowSource.h"

namespace {

// A flat grey picture (its size, not its content, is what the refusal must not depend on),
// written progressively with scans scans: DC first, then each AC coefficient refined 9 times.
void WriteManyScans(const std::string& path, int width, int height, int scans) {
  std::vector<jpeg_scan_info> script;
  script.push_back({1, {0, 0, 0, 0}, 0, 0, 0, 0});
  for (int k = 1; k <= 63 && static_cast<int>(script.size()) < scans; ++k) {
    script.push_back({1, {0, 0, 0, 0}, k, k, 0, 9});
    for (int al = 8; al >= 0; --al)
      script.push_back({1, {0, 0, 0, 0}, k, k, al + 1, al});
  }
  script.resize(std::min<std::size_t>(script.size(), static_cast<std::size_t>(scans)));
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::exit(1);
  jpeg_compress_struct info{};
  jpeg_error_mgr error{};
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, file);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 1;
  info.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&info);
  info.scan_info = script.data();
  info.num_scans = static_cast<int>(script.size());
  jpeg_start_compress(&info, TRUE);
  std::vector<JSAMPLE> row(static_cast<std::size_t>(width), 0x5A);
  JSAMPROW rows[] = {row.data()};
  while (info.next_scanline < info.image_height)
    jpeg_write_scanlines(&info, rows, 1);
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::fclose(file);
  std::printf("made %d x %d, %zu scans, %ju bytes\n", width, height, script.size(),
              static_cast<std::uintmax_t>(std::filesystem::file_size(path)));
}

template <typename F>
void Time(const char* name, int rounds, F&& read) {
  std::vector<double> ms;
  std::string reason;
  for (int i = 0; i < rounds; ++i) {
    const auto start = std::chrono::steady_clock::now();
    try {
      read();
      reason = "read (not refused)";
    } catch (const penamo::Exception& e) {
      reason = std::string(e.ClassName()) + " " + e.Reason();
    }
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
  }
  std::sort(ms.begin(), ms.end());
  std::printf("%-10s %s: median %.1f ms (%.1f-%.1f), %d rounds\n", name, reason.c_str(),
              ms[ms.size() / 2], ms.front(), ms.back(), rounds);
}

}  // namespace

int main(int argc, char** argv) {
  const int width = argc > 1 ? std::atoi(argv[1]) : 8000;
  const int height = argc > 2 ? std::atoi(argv[2]) : 8000;
  const int scans = argc > 3 ? std::atoi(argv[3]) : 631;
  const int rounds = argc > 4 ? std::atoi(argv[4]) : 7;
  const std::string path =
      (std::filesystem::temp_directory_path() / "penamo-jpeg-scans-bench.jpg").string();
  WriteManyScans(path, width, height, scans);
  Time("whole", rounds, [&] {
    penamo::TBitmap picture;
    penamo::TPictureExtras extras;
    penamo::ReadPicture(path, picture, extras);
  });
  Time("bands", rounds, [&] {
    penamo::TPictureExtras extras;
    if (auto rows = penamo::OpenPictureRows(path, extras)) rows->ReadBand(0, 1);
  });
  std::filesystem::remove(path);
  return 0;
}
