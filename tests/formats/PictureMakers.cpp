#include "PictureMakers.h"

#include <png.h>
#include <tiffio.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <jpeglib.h>

namespace penamo::test {

namespace {

void AppendToBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<TBytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

// libpng reports errors by longjmp: this frame holds nothing with a destructor.
bool WritePngRows(const TPngLayout* layout, png_bytep* rows, TBytes* out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, out, AppendToBytes, nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(layout->Width),
               static_cast<png_uint_32>(layout->Height), layout->BitDepth, layout->ColorType,
               layout->Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_color palette[256];
  if (layout->ColorType == PNG_COLOR_TYPE_PALETTE) {
    const int entries = static_cast<int>(layout->Palette.size() / 3);
    for (int i = 0; i < entries; ++i) {
      palette[i].red = layout->Palette[3 * i];
      palette[i].green = layout->Palette[3 * i + 1];
      palette[i].blue = layout->Palette[3 * i + 2];
    }
    png_set_PLTE(png, info, palette, entries);
    if (!layout->PaletteAlpha.empty()) {
      png_set_tRNS(png, info, layout->PaletteAlpha.data(),
                   static_cast<int>(layout->PaletteAlpha.size()), nullptr);
    }
  }
  if (layout->GreyOrRgbKey) {
    png_color_16 key{};
    key.gray = layout->KeyGrey;
    key.red = layout->KeyRgb[0];
    key.green = layout->KeyRgb[1];
    key.blue = layout->KeyRgb[2];
    png_set_tRNS(png, info, nullptr, 0, &key);
  }
  if (!layout->Profile.empty()) {
    png_set_iCCP(png, info, "test", PNG_COMPRESSION_TYPE_BASE, layout->Profile.data(),
                 static_cast<png_uint_32>(layout->Profile.size()));
  }
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

int Channels(int colorType) {
  switch (colorType) {
    case PNG_COLOR_TYPE_RGB:
      return 3;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      return 2;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      return 4;
    default:
      return 1;
  }
}

// Packs samples MSB first at depth bits (8: bytes, 16: big-endian pairs).
TBytes PackRow(const std::uint32_t* samples, std::size_t count, int bits) {
  TBytes row((count * static_cast<std::size_t>(bits) + 7) / 8, 0);
  for (std::size_t i = 0; i < count; ++i) {
    if (bits == 16) {
      row[2 * i] = static_cast<std::uint8_t>(samples[i] >> 8);
      row[2 * i + 1] = static_cast<std::uint8_t>(samples[i]);
    } else {
      const std::size_t bit = i * static_cast<std::size_t>(bits);
      row[bit / 8] |= static_cast<std::uint8_t>(samples[i] << (8 - bits - bit % 8));
    }
  }
  return row;
}

struct TJpegErrorTrap {
  jpeg_error_mgr Manager;
  std::jmp_buf Jump;
};

void JpegFailed(j_common_ptr info) {
  std::longjmp(reinterpret_cast<TJpegErrorTrap*>(info->err)->Jump, 1);
}

bool WriteJpegRows(const TJpegLayout* layout, const jpeg_scan_info* script, int scans,
                   unsigned char** out, unsigned long* size) {
  jpeg_compress_struct info;
  TJpegErrorTrap trap;
  info.err = jpeg_std_error(&trap.Manager);
  trap.Manager.error_exit = JpegFailed;
  if (setjmp(trap.Jump)) {
    jpeg_destroy_compress(&info);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, out, size);
  info.image_width = static_cast<JDIMENSION>(layout->Width);
  info.image_height = static_cast<JDIMENSION>(layout->Height);
  info.input_components = layout->Components;
  info.in_color_space = static_cast<J_COLOR_SPACE>(layout->InColorSpace);
  jpeg_set_defaults(&info);
  jpeg_set_colorspace(&info, static_cast<J_COLOR_SPACE>(layout->FileColorSpace));
  info.write_Adobe_marker = layout->WriteAdobe ? TRUE : FALSE;
  jpeg_set_quality(&info, layout->Quality, TRUE);
  if (layout->Progressive) jpeg_simple_progression(&info);
  if (script != nullptr) {
    info.scan_info = script;
    info.num_scans = scans;
  }
  jpeg_start_compress(&info, TRUE);
  if (!layout->Exif.empty())
    jpeg_write_marker(&info, JPEG_APP0 + 1, layout->Exif.data(),
                      static_cast<unsigned>(layout->Exif.size()));
  if (!layout->Profile.empty())
    jpeg_write_icc_profile(&info, layout->Profile.data(),
                           static_cast<unsigned>(layout->Profile.size()));
  const std::size_t stride = static_cast<std::size_t>(layout->Width * layout->Components);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(layout->Samples.data() + info.next_scanline * stride);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

}  // namespace

bool ReadStoredPng(const std::string& path, TStoredPng& stored) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  stored.Width = static_cast<int>(png_get_image_width(png, info));
  stored.Height = static_cast<int>(png_get_image_height(png, info));
  stored.BitDepth = png_get_bit_depth(png, info);
  stored.ColorType = png_get_color_type(png, info);
  stored.Channels = png_get_channels(png, info);
  png_bytepp rows = png_get_rows(png, info);
  stored.Rows.assign(static_cast<std::size_t>(stored.Height), {});
  const auto bits = static_cast<unsigned>(stored.BitDepth);
  for (int y = 0; y < stored.Height; ++y) {
    for (int i = 0; i < stored.Width * stored.Channels; ++i) {
      const std::size_t bit = static_cast<std::size_t>(i) * bits;
      const unsigned shift = 8 - bits - static_cast<unsigned>(bit % 8);
      stored.Rows[static_cast<std::size_t>(y)].push_back(
          bits == 8 ? rows[y][i] : (rows[y][bit / 8] >> shift) & ((1u << bits) - 1));
    }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return true;
}

TBytes MakePng(const TPngLayout& layout) {
  const std::size_t perRow = static_cast<std::size_t>(layout.Width * Channels(layout.ColorType));
  std::vector<TBytes> packed;
  std::vector<png_bytep> rows;
  for (int y = 0; y < layout.Height; ++y)
    packed.push_back(PackRow(layout.Samples.data() + perRow * static_cast<std::size_t>(y), perRow,
                             layout.BitDepth));
  for (auto& row : packed)
    rows.push_back(row.data());
  TBytes out;
  if (!WritePngRows(&layout, rows.data(), &out)) throw std::runtime_error("libpng could not write");
  return out;
}

TBytes MakeJpeg(const TJpegLayout& layout) {
  std::vector<jpeg_scan_info> script;
  if (layout.ManyScans > 0) {
    // DC first, then every AC coefficient alone, refined one bit at a time.
    script.push_back({1, {0, 0, 0, 0}, 0, 0, 0, 0});
    for (int k = 1; k <= 63 && static_cast<int>(script.size()) < layout.ManyScans; ++k) {
      script.push_back({1, {0, 0, 0, 0}, k, k, 0, 9});
      for (int al = 8; al >= 0; --al)
        script.push_back({1, {0, 0, 0, 0}, k, k, al + 1, al});
    }
    if (static_cast<int>(script.size()) < layout.ManyScans)
      throw std::runtime_error("more scans asked than a greyscale script has");
    script.resize(static_cast<std::size_t>(layout.ManyScans));  // exactly as many as asked
  }
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  const bool ok = WriteJpegRows(&layout, script.empty() ? nullptr : script.data(),
                                static_cast<int>(script.size()), &buffer, &size);
  TBytes out;
  if (ok) out.assign(buffer, buffer + size);
  std::free(buffer);
  if (!ok) throw std::runtime_error("libjpeg could not write");
  return out;
}

TBytes ExifWithOrientation(int orientation, bool big) {
  TBytes b = {'E', 'x', 'i', 'f', 0, 0};
  const auto put16 = [&](unsigned v) {
    if (big) {
      b.push_back(static_cast<std::uint8_t>(v >> 8));
      b.push_back(static_cast<std::uint8_t>(v));
    } else {
      b.push_back(static_cast<std::uint8_t>(v));
      b.push_back(static_cast<std::uint8_t>(v >> 8));
    }
  };
  const auto put32 = [&](unsigned v) {
    if (big) {
      put16(v >> 16);
      put16(v & 0xFFFF);
    } else {
      put16(v & 0xFFFF);
      put16(v >> 16);
    }
  };
  b.push_back(big ? 'M' : 'I');
  b.push_back(big ? 'M' : 'I');
  put16(42);
  put32(8);  // IFD0 right after the header
  put16(2);  // two entries: a resolution before the orientation
  put16(0x011A);
  put16(5);
  put32(1);
  put32(0);
  put16(0x0112);
  put16(3);
  put32(1);
  put16(static_cast<unsigned>(orientation));
  put16(0);
  put32(0);  // no next IFD
  return b;
}

TBytes MakeTiff(const TTiffLayout& layout) {
  char path[] = "/tmp/penamo-tiff-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) throw std::runtime_error("no temporary file");
  close(fd);
  TIFF* tif = TIFFOpen(path, layout.BigEndian ? "wb" : "wl");
  if (tif == nullptr) throw std::runtime_error("libtiff could not open");
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(layout.Width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(layout.Height));
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, static_cast<std::uint16_t>(layout.SamplesPerPixel));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, static_cast<std::uint16_t>(layout.BitsPerSample));
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, static_cast<std::uint16_t>(layout.Photometric));
  TIFFSetField(tif, TIFFTAG_COMPRESSION, static_cast<std::uint16_t>(layout.Compression));
  TIFFSetField(
      tif, TIFFTAG_PLANARCONFIG,
      static_cast<std::uint16_t>(layout.Separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG));
  if (layout.ExtraSample >= 0) {
    std::uint16_t kind = static_cast<std::uint16_t>(layout.ExtraSample);
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &kind);
  }
  if (!layout.ColorMap.empty()) {
    const std::size_t n = layout.ColorMap.size() / 3;
    TIFFSetField(tif, TIFFTAG_COLORMAP, layout.ColorMap.data(), layout.ColorMap.data() + n,
                 layout.ColorMap.data() + 2 * n);
  }
  if (layout.Orientation != 0)
    TIFFSetField(tif, TIFFTAG_ORIENTATION, static_cast<std::uint16_t>(layout.Orientation));
  if (layout.InkSet != 0)
    TIFFSetField(tif, TIFFTAG_INKSET, static_cast<std::uint16_t>(layout.InkSet));
  if (!layout.Profile.empty())
    TIFFSetField(tif, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(layout.Profile.size()),
                 layout.Profile.data());
  const int planes = layout.Separate ? layout.SamplesPerPixel : 1;
  const int perPixel = layout.Separate ? 1 : layout.SamplesPerPixel;
  const auto spp = static_cast<std::size_t>(layout.SamplesPerPixel);
  const auto width = static_cast<std::size_t>(layout.Width);
  // One plane's row y as packed bytes in host order (libtiff swaps 16-bit samples itself).
  const auto planeRow = [&](int plane, int y) {
    std::vector<std::uint32_t> samples;
    for (std::size_t x = 0; x < width; ++x) {
      for (int s = 0; s < perPixel; ++s) {
        const std::size_t index = (static_cast<std::size_t>(y) * width + x) * spp +
                                  static_cast<std::size_t>(layout.Separate ? plane : s);
        samples.push_back(layout.Samples[index]);
      }
    }
    if (layout.BitsPerSample != 16)
      return PackRow(samples.data(), samples.size(), layout.BitsPerSample);
    TBytes row(samples.size() * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
      const auto v = static_cast<std::uint16_t>(samples[i]);
      std::memcpy(row.data() + 2 * i, &v, 2);
    }
    return row;
  };
  bool ok = true;
  if (layout.Tiled) {
    const std::uint32_t tile = 16;
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, tile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, tile);
    const tmsize_t tileBytes = TIFFTileSize(tif);
    const std::size_t tileRow = static_cast<std::size_t>(TIFFTileRowSize(tif));
    for (int plane = 0; plane < planes; ++plane) {
      for (int ty = 0; ty < layout.Height; ty += 16) {
        for (int tx = 0; tx < layout.Width; tx += 16) {
          TBytes buffer(static_cast<std::size_t>(tileBytes), 0);
          const std::size_t pixelBits = static_cast<std::size_t>(perPixel * layout.BitsPerSample);
          for (int r = 0; r < 16 && ty + r < layout.Height; ++r) {
            const TBytes row = planeRow(plane, ty + r);
            const std::size_t offset = pixelBits * static_cast<std::size_t>(tx) / 8;
            const std::size_t bytes = std::min(tileRow, row.size() - offset);
            std::memcpy(buffer.data() + static_cast<std::size_t>(r) * tileRow, row.data() + offset,
                        bytes);
          }
          ok = ok && TIFFWriteTile(tif, buffer.data(), static_cast<std::uint32_t>(tx),
                                   static_cast<std::uint32_t>(ty), 0,
                                   static_cast<std::uint16_t>(plane)) >= 0;
        }
      }
    }
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(layout.RowsPerStrip));
    for (int plane = 0; plane < planes; ++plane) {
      for (int y = 0; y < layout.Height; ++y) {
        TBytes row = planeRow(plane, y);
        ok = ok && TIFFWriteScanline(tif, row.data(), static_cast<std::uint32_t>(y),
                                     static_cast<std::uint16_t>(plane)) >= 0;
      }
    }
  }
  TIFFClose(tif);
  TBytes out = ReadFileBytes(path);
  std::remove(path);
  if (!ok) throw std::runtime_error("libtiff could not write");
  return out;
}

TBytes MakeWebP(int width, int height, const std::vector<std::uint8_t>& bgra, bool lossless,
                bool alpha, const TBytes& profile) {
  std::uint8_t* encoded = nullptr;
  std::size_t size = 0;
  if (alpha) {
    size = lossless ? WebPEncodeLosslessBGRA(bgra.data(), width, height, width * 4, &encoded)
                    : WebPEncodeBGRA(bgra.data(), width, height, width * 4, 95, &encoded);
  } else {
    std::vector<std::uint8_t> bgr;
    for (std::size_t i = 0; i < bgra.size(); i += 4)
      bgr.insert(bgr.end(), &bgra[i], &bgra[i] + 3);
    size = lossless ? WebPEncodeLosslessBGR(bgr.data(), width, height, width * 3, &encoded)
                    : WebPEncodeBGR(bgr.data(), width, height, width * 3, 95, &encoded);
  }
  TBytes out(encoded, encoded + size);
  WebPFree(encoded);
  if (size == 0) throw std::runtime_error("libwebp could not write");
  if (profile.empty()) return out;
  WebPMux* mux = WebPMuxNew();
  const WebPData image{out.data(), out.size()};
  const WebPData icc{profile.data(), profile.size()};
  WebPMuxSetImage(mux, &image, 1);
  WebPMuxSetChunk(mux, "ICCP", &icc, 1);
  WebPData assembled{};
  WebPMuxAssemble(mux, &assembled);
  TBytes withProfile(assembled.bytes, assembled.bytes + assembled.size);
  WebPDataClear(&assembled);
  WebPMuxDelete(mux);
  return withProfile;
}

TBytes MakeAnimatedWebP(int width, int height, std::uint32_t firstBgra, std::uint32_t secondBgra) {
  WebPAnimEncoderOptions options;
  WebPAnimEncoderOptionsInit(&options);
  WebPAnimEncoder* encoder = WebPAnimEncoderNew(width, height, &options);
  WebPConfig config;
  WebPConfigInit(&config);
  config.lossless = 1;
  int timestamp = 0;
  for (const std::uint32_t colour : {firstBgra, secondBgra}) {
    WebPPicture frame;
    WebPPictureInit(&frame);
    frame.use_argb = 1;
    frame.width = width;
    frame.height = height;
    WebPPictureAlloc(&frame);
    // ARGB words: alpha in the top byte, then red, green, blue.
    const std::uint32_t argb = ((colour & 0xFF) << 24) | (((colour >> 8) & 0xFF) << 16) |
                               (((colour >> 16) & 0xFF) << 8) | (colour >> 24);
    for (int i = 0; i < width * height; ++i)
      frame.argb[i] = argb;
    WebPAnimEncoderAdd(encoder, &frame, timestamp, &config);
    WebPPictureFree(&frame);
    timestamp += 100;
  }
  WebPAnimEncoderAdd(encoder, nullptr, timestamp, nullptr);
  WebPData assembled{};
  WebPAnimEncoderAssemble(encoder, &assembled);
  TBytes out(assembled.bytes, assembled.bytes + assembled.size);
  WebPDataClear(&assembled);
  WebPAnimEncoderDelete(encoder);
  if (out.empty()) throw std::runtime_error("libwebp could not write an animation");
  return out;
}

TBytes SmallProfile() {
  TBytes profile(132, 0);
  profile[3] = 132;  // the profile's size, big-endian
  std::memcpy(&profile[12], "mntrRGB XYZ ", 12);
  std::memcpy(&profile[36], "acsp", 4);
  const std::uint8_t d50[] = {0, 0, 0xF6, 0xD6, 0, 1, 0, 0, 0, 0, 0xD3, 0x2D};
  std::memcpy(&profile[68], d50, sizeof d50);
  profile[100] = 0x5A;  // something that is not zero, to see it carried
  return profile;
}

TBytes ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const TBytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::uint32_t PixelAt(const TBitmap& picture, int x, int y) {
  const std::uint8_t* p = picture.ConstRowAddress(y) + 3 * x;
  return (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
}

}  // namespace penamo::test
