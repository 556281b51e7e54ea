#include "image_io.h"

#include <png.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "platform/file_replacement.h"
#include "platform/read_whole_file.h"

namespace n47tool {
namespace {

namespace fs = std::filesystem;

std::runtime_error failure(const std::string& path, const std::string& what) {
  return std::runtime_error(path + ": " + what);
}

// Why `path` cannot be replaced, when it already names something that is no ordinary file.
std::string refusal(const std::string& path) {
  std::error_code error;
  const auto status = fs::status(path, error);
  if (fs::is_directory(status)) return "is a folder";
  if (fs::exists(status) && !fs::is_regular_file(status)) return "is not an ordinary file (a device, FIFO or socket)";
  if (fs::is_symlink(fs::symlink_status(path, error)) && !fs::exists(status)) return "is a link to nothing";
  return "cannot be written";
}

// Writes through `write(file)` into a replacement of `path` (a unique temporary beside it,
// flushed and renamed over it at the end); a failure anywhere leaves `path` as it was.
template <typename Write>
void writeReplacing(const std::string& path, Write write) {
  n47::FileReplacement file(path.c_str());
  if (!file.isOpen()) throw failure(path, refusal(path));
  write(file);
  if (!file.commit()) throw failure(path, "cannot be written");
}

// A descriptor of the replacement's temporary that the image libraries may close themselves.
int duplicateOf(const n47::FileReplacement& file, const std::string& path) {
  const int descriptor = ::dup(file.descriptor());
  if (descriptor < 0) throw failure(path, "cannot be written");
  return descriptor;
}

}  // namespace

std::string extensionOf(const std::string& path) {
  std::string extension = fs::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
  return extension;
}

void checkWritable(const std::string& path) {
  const fs::path target(path);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::error_code error;
  if (!fs::is_directory(folder, error)) throw failure(path, "the folder " + folder.string() + " does not exist");
  if (fs::is_directory(target, error)) throw failure(path, "is a folder");
  // The probe's temporary goes away with it.
  if (!n47::FileReplacement(path.c_str()).isOpen()) throw failure(path, refusal(path));
}

void writeTextFile(const std::string& path, const std::string& text) {
  writeReplacing(path, [&](n47::FileReplacement& file) {
    if (!file.write(text.data(), text.size())) throw failure(path, "cannot be written");
  });
}

std::vector<std::uint8_t> readFileExactly(const std::string& path, std::size_t bytes, const char* what) {
  std::error_code error;
  if (!fs::exists(path, error)) throw failure(path, "no such file");
  if (!fs::is_regular_file(path, error)) throw failure(path, "not a regular file");
  const auto size = fs::file_size(path, error);
  if (error) throw failure(path, "cannot read its size");
  if (size != bytes) {
    throw failure(path, std::to_string(size) + " bytes; a " + what + " has exactly " + std::to_string(bytes));
  }
  std::vector<std::uint8_t> data(bytes);
  // Checked again on what is opened: the path may have changed since.
  if (!n47::readWholeFile(path.c_str(), data.data(), bytes)) throw failure(path, "cannot be read");
  return data;
}

Frame readRawFrame(const std::string& path) {
  const auto bytes = readFileExactly(path, kPixels * 2, "raw frame (2048 x 1536, 16-bit little-endian)");
  Frame frame(kPixels);
  for (std::size_t i = 0; i < kPixels; ++i) frame[i] = static_cast<std::uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  return frame;
}

void writeRawFrame(const std::string& path, const Frame& frame) {
  writeReplacing(path, [&](n47::FileReplacement& file) {
    std::vector<std::uint8_t> bytes(frame.size() * 2);
    for (std::size_t i = 0; i < frame.size(); ++i) {
      bytes[2 * i] = static_cast<std::uint8_t>(frame[i] & 0xFF);
      bytes[2 * i + 1] = static_cast<std::uint8_t>(frame[i] >> 8);
    }
    if (!file.write(bytes.data(), bytes.size())) throw failure(path, "cannot be written");
  });
}

void writeTiff16(const std::string& path, const Frame& frame, int width, int height) {
  writeReplacing(path, [&](n47::FileReplacement& file) {
    TIFF* tiff = TIFFFdOpen(duplicateOf(file, path), path.c_str(), "w");
    if (tiff == nullptr) throw failure(path, "cannot be written");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 64);
    bool ok = true;
    std::vector<std::uint16_t> row(static_cast<std::size_t>(width));
    for (int r = 0; r < height && ok; ++r) {
      std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>(r) * width, width, row.begin());
      ok = TIFFWriteScanline(tiff, row.data(), static_cast<std::uint32_t>(r), 0) == 1;
    }
    TIFFClose(tiff);
    if (!ok) throw failure(path, "cannot be written");
  });
}

Frame readTiff16(const std::string& path, int& width, int& height) {
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (tiff == nullptr) throw failure(path, "not a readable TIFF file");
  std::uint32_t w = 0, h = 0;
  std::uint16_t bits = 0, samples = 1;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  if (bits != 16 || samples != 1) {
    TIFFClose(tiff);
    throw failure(path, "not a 16-bit greyscale TIFF");
  }
  Frame frame(static_cast<std::size_t>(w) * h);
  for (std::uint32_t r = 0; r < h; ++r) {
    if (TIFFReadScanline(tiff, frame.data() + static_cast<std::size_t>(r) * w, r, 0) != 1) {
      TIFFClose(tiff);
      throw failure(path, "truncated TIFF");
    }
  }
  TIFFClose(tiff);
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return frame;
}

void writePng(const std::string& path, const Picture& picture) {
  writeReplacing(path, [&](n47::FileReplacement& replacement) {
    const int descriptor = duplicateOf(replacement, path);
    std::FILE* file = ::fdopen(descriptor, "wb");
    if (file == nullptr) {
      ::close(descriptor);
      throw failure(path, "cannot be written");
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (png == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) {
      png_destroy_write_struct(&png, &info);
      std::fclose(file);
      throw failure(path, "cannot be written as PNG");
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width), static_cast<png_uint_32>(picture.height), 8,
                 picture.channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const std::size_t stride = static_cast<std::size_t>(picture.width) * picture.channels;
    for (int r = 0; r < picture.height; ++r) {
      png_write_row(png, const_cast<png_bytep>(picture.bytes.data() + r * stride));
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fclose(file) != 0) throw failure(path, "cannot be written");
  });
}

Picture readPng(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) throw failure(path, "not a readable PNG file");
  Picture picture;
  picture.width = static_cast<int>(image.width);
  picture.height = static_cast<int>(image.height);
  picture.channels = (image.format & PNG_FORMAT_FLAG_COLOR) != 0 ? 3 : 1;
  image.format = picture.channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
  picture.bytes.resize(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, picture.bytes.data(), 0, nullptr) == 0) {
    png_image_free(&image);
    throw failure(path, "truncated PNG");
  }
  return picture;
}

Window autoWindow(const Frame& frame, int width, int height) {
  std::vector<std::uint16_t> inner;
  inner.reserve(frame.size());
  for (int r = 20; r < height - 20; ++r)
    for (int c = 20; c < width - 20; ++c) inner.push_back(frame[static_cast<std::size_t>(r) * width + c]);
  if (inner.empty()) inner = frame;
  const auto percentile = [&](double p) {
    const std::size_t k = static_cast<std::size_t>(p * static_cast<double>(inner.size() - 1));
    std::nth_element(inner.begin(), inner.begin() + static_cast<std::ptrdiff_t>(k), inner.end());
    return static_cast<double>(inner[k]);
  };
  Window window{percentile(0.005), percentile(0.995)};
  if (window.high <= window.low) window.high = window.low + 1.0;
  return window;
}

Picture toGrey(const Frame& frame, Window window, int width, int height) {
  Picture picture{width, height, 1, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height)};
  const double scale = 255.0 / (window.high - window.low);
  for (std::size_t i = 0; i < picture.bytes.size(); ++i) {
    picture.bytes[i] = static_cast<std::uint8_t>(std::clamp((frame[i] - window.low) * scale, 0.0, 255.0));
  }
  return picture;
}

Picture sideBySide(const Picture& left, const Picture& right, int factor) {
  constexpr int kGap = 8;
  const int w = left.width / factor, h = left.height / factor;
  Picture out{2 * w + kGap, h, 1, std::vector<std::uint8_t>(static_cast<std::size_t>(2 * w + kGap) * h, 255)};
  const auto place = [&](const Picture& source, int x0) {
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < w; ++c) {
        int sum = 0;
        for (int dy = 0; dy < factor; ++dy)
          for (int dx = 0; dx < factor; ++dx) sum += source.bytes[static_cast<std::size_t>(r * factor + dy) * source.width + c * factor + dx];
        out.bytes[static_cast<std::size_t>(r) * out.width + x0 + c] = static_cast<std::uint8_t>(sum / (factor * factor));
      }
  };
  place(left, 0);
  place(right, w + kGap);
  return out;
}

}  // namespace n47tool
