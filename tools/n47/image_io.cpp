#include "image_io.h"

#include <png.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "platform/file_replacement.h"
#include "platform/read_whole_file.h"
#include "tavrin_n47.h"

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

namespace {

// libtiff prints its own warnings and errors to stderr; n47 reports every failure itself.
void quietTiff() {
  static const bool quiet = [] {
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    return true;
  }();
  (void)quiet;
}

}  // namespace

std::uint64_t tiffPagesBytes(int pages) {
  // A page's directory, its tags and strip tables take well under 4 KiB.
  constexpr std::uint64_t kPageOverhead = 4096;
  return static_cast<std::uint64_t>(pages) * (kPixels * sizeof(std::uint16_t) + kPageOverhead) + kPageOverhead;
}

int writeTiffPages(const std::string& path, int pages, const PageSource& page) {
  quietTiff();
  // Offsets of a classic TIFF are 32-bit; readers without BigTIFF still open every series
  // that fits.
  const bool big = tiffPagesBytes(pages) > std::numeric_limits<std::uint32_t>::max();
  int written = 0;
  writeReplacing(path, [&](n47::FileReplacement& file) {
    // libtiff links each page to the one before by reading back that page's directory: the
    // replacement's temporary is open for reading too.
    TIFF* tiff = TIFFFdOpen(duplicateOf(file, path), path.c_str(), big ? "w8" : "w");
    if (tiff == nullptr) throw failure(path, "cannot be written");
    const std::string software = "n47 " N47_VERSION_STRING;
    Frame frame(kPixels);
    std::string description;
    bool ok = true;
    try {
      for (int index = 0; index < pages && ok; ++index) {
        if (!page(index, frame, description) && index > 0) break;
        if (frame.size() != kPixels) throw failure(path, "a page is not a whole frame");
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, kWidth);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, kHeight);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 16);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 64);
        TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, description.c_str());
        TIFFSetField(tiff, TIFFTAG_SOFTWARE, software.c_str());
        if (pages > 1) {
          TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
          // Page numbers are 16-bit; a longer series leaves them out.
          if (pages <= 65535) TIFFSetField(tiff, TIFFTAG_PAGENUMBER, index, pages);
        }
        std::vector<std::uint16_t> row(kWidth);
        for (int r = 0; r < kHeight && ok; ++r) {
          std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>(r) * kWidth, kWidth, row.begin());
          ok = TIFFWriteScanline(tiff, row.data(), static_cast<std::uint32_t>(r), 0) == 1;
        }
        ok = ok && TIFFWriteDirectory(tiff) == 1;
        written += ok ? 1 : 0;
      }
    } catch (...) {
      TIFFClose(tiff);
      throw;
    }
    TIFFClose(tiff);
    if (!ok) throw failure(path, "cannot be written");
  });
  return written;
}

void writeTiff16(const std::string& path, const Frame& frame, const std::string& description) {
  writeTiffPages(path, 1, [&](int, Frame& page, std::string& text) {
    page = frame;
    text = description;
    return true;
  });
}

bool isTiffPath(const std::string& path) {
  const std::string extension = extensionOf(path);
  return extension == ".tif" || extension == ".tiff";
}

namespace {

struct TiffFile {
  TIFF* tiff = nullptr;
  explicit TiffFile(const std::string& path) {
    quietTiff();
    tiff = TIFFOpen(path.c_str(), "r");
    if (tiff == nullptr) throw failure(path, "not a readable TIFF file");
  }
  ~TiffFile() { TIFFClose(tiff); }
  TiffFile(const TiffFile&) = delete;
  TiffFile& operator=(const TiffFile&) = delete;
};

std::string textTag(TIFF* tiff, ttag_t tag) {
  const char* text = nullptr;
  return TIFFGetField(tiff, tag, &text) == 1 && text != nullptr ? text : "";
}

// Reads the current page after checking that it is plain 16-bit grey in strips, so that the
// scanline reader can take it; the size is checked before anything is allocated.
Frame readPage(TIFF* tiff, const std::string& path, std::uint32_t maxWidth, std::uint32_t maxHeight, int& width,
               int& height) {
  std::uint32_t w = 0, h = 0;
  std::uint16_t bits = 0, samples = 1, format = SAMPLEFORMAT_UINT, photometric = 0;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
  if (bits != 16 || samples != 1 || format != SAMPLEFORMAT_UINT || photometric != PHOTOMETRIC_MINISBLACK) {
    throw failure(path, "not a 16-bit greyscale TIFF (" + std::to_string(bits) + " bits, " + std::to_string(samples) +
                            " samples per pixel)");
  }
  if (TIFFIsTiled(tiff)) throw failure(path, "a tiled TIFF; n47 reads TIFFs written in strips");
  if (w == 0 || h == 0 || w > maxWidth || h > maxHeight) {
    throw failure(path, std::to_string(w) + " x " + std::to_string(h) + " pixels; a frame has " +
                            std::to_string(kWidth) + " x " + std::to_string(kHeight));
  }
  Frame frame(static_cast<std::size_t>(w) * h);
  for (std::uint32_t r = 0; r < h; ++r) {
    if (TIFFReadScanline(tiff, frame.data() + static_cast<std::size_t>(r) * w, r, 0) != 1) {
      throw failure(path, "truncated or unreadable TIFF");
    }
  }
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return frame;
}

}  // namespace

Frame readTiff16(const std::string& path, int& width, int& height) {
  TiffFile file(path);
  return readPage(file.tiff, path, 65535, 65535, width, height);
}

TiffInfo readTiffInfo(const std::string& path, int page) {
  TiffFile file(path);
  TiffInfo info;
  info.pages = static_cast<int>(TIFFNumberOfDirectories(file.tiff));
  if (page < 0 || page >= info.pages || TIFFSetDirectory(file.tiff, static_cast<tdir_t>(page)) != 1) {
    throw failure(path, "has no page " + std::to_string(page));
  }
  info.description = textTag(file.tiff, TIFFTAG_IMAGEDESCRIPTION);
  info.software = textTag(file.tiff, TIFFTAG_SOFTWARE);
  return info;
}

Frame readFrame(const std::string& path, std::string* description) {
  if (description != nullptr) description->clear();
  if (!isTiffPath(path)) return readRawFrame(path);
  std::error_code error;
  if (!fs::exists(path, error)) throw failure(path, "no such file");
  if (!fs::is_regular_file(path, error)) throw failure(path, "not a regular file");
  TiffFile file(path);
  const auto pages = TIFFNumberOfDirectories(file.tiff);
  if (pages != 1) throw failure(path, "a TIFF of " + std::to_string(pages) + " pages; n47 reads single frames");
  int width = 0, height = 0;
  Frame frame = readPage(file.tiff, path, kWidth, kHeight, width, height);
  if (width != kWidth || height != kHeight) {
    throw failure(path, std::to_string(width) + " x " + std::to_string(height) + " pixels; a frame has " +
                            std::to_string(kWidth) + " x " + std::to_string(kHeight));
  }
  if (description != nullptr) *description = textTag(file.tiff, TIFFTAG_IMAGEDESCRIPTION);
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

namespace {

std::vector<std::uint16_t> innerPixels(const Frame& frame, int width, int height) {
  std::vector<std::uint16_t> inner;
  inner.reserve(frame.size());
  for (int r = 20; r < height - 20; ++r)
    for (int c = 20; c < width - 20; ++c) inner.push_back(frame[static_cast<std::size_t>(r) * width + c]);
  if (inner.empty()) inner = frame;
  return inner;
}

}  // namespace

double innerMedian(const Frame& frame, int width, int height) {
  std::vector<std::uint16_t> inner = innerPixels(frame, width, height);
  const auto middle = inner.begin() + static_cast<std::ptrdiff_t>(inner.size() / 2);
  std::nth_element(inner.begin(), middle, inner.end());
  return *middle;
}

Window medianWindow(const Frame& frame, double relative, int width, int height) {
  const double median = innerMedian(frame, width, height);
  Window window{median * (1.0 - relative), median * (1.0 + relative)};
  if (window.high <= window.low) window.high = window.low + 1.0;
  return window;
}

Picture toGrey(const Frame& frame, Window window, int width, int height) {
  Picture picture{width, height, 1, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height)};
  const double scale = 255.0 / (window.high - window.low);
  for (std::size_t i = 0; i < picture.bytes.size(); ++i) {
    // Compared in double before the conversion, so that no window, however narrow, converts
    // an out-of-range or NaN level.
    const double level = (frame[i] - window.low) * scale;
    picture.bytes[i] = level > 0.0 ? (level < 255.0 ? static_cast<std::uint8_t>(level) : 255) : 0;
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
