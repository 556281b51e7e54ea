#include "nexus_writer.h"

#include <hdf5.h>

#include <ctime>
#include <filesystem>
#include <limits>
#include <stdexcept>

#include "platform/file_replacement.h"
#include "tavrin_n47.h"

namespace n47tool {
namespace {

constexpr unsigned kGzipLevel = 4;
constexpr hsize_t kTemperatureChunk = 1024;

std::runtime_error failure(const std::string& path, const std::string& what) {
  return std::runtime_error(path + ": " + what);
}

// n47 reports every failure itself, with the file's name.
void quietHdf5() {
  static const bool quiet = [] {
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    return true;
  }();
  (void)quiet;
}

// An HDF5 identifier closed with the function that fits its kind.
class Handle {
 public:
  Handle() = default;
  Handle(hid_t id, herr_t (*close)(hid_t)) : id_(id), close_(close) {}
  ~Handle() { reset(); }
  Handle(Handle&& other) noexcept : id_(other.id_), close_(other.close_) { other.id_ = H5I_INVALID_HID; }
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      reset();
      id_ = other.id_;
      close_ = other.close_;
      other.id_ = H5I_INVALID_HID;
    }
    return *this;
  }
  operator hid_t() const { return id_; }
  bool valid() const { return id_ >= 0; }
  // The result of the close, for the one close whose failure matters (the file's).
  herr_t reset() {
    const herr_t result = id_ >= 0 ? close_(id_) : 0;
    id_ = H5I_INVALID_HID;
    return result;
  }

 private:
  hid_t id_ = H5I_INVALID_HID;
  herr_t (*close_)(hid_t) = nullptr;
};

std::string utcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  gmtime_r(&now, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

Handle utf8Type() {
  Handle type(H5Tcopy(H5T_C_S1), H5Tclose);
  H5Tset_size(type, H5T_VARIABLE);
  H5Tset_cset(type, H5T_CSET_UTF8);
  return type;
}

// h5py's boolean: an 8-bit enum of FALSE and TRUE, read back as numpy.bool_.
Handle booleanType() {
  Handle type(H5Tenum_create(H5T_NATIVE_INT8), H5Tclose);
  const signed char no = 0, yes = 1;
  H5Tenum_insert(type, "FALSE", &no);
  H5Tenum_insert(type, "TRUE", &yes);
  return type;
}

Handle chunkedLayout(const std::vector<hsize_t>& chunk, bool gzip) {
  Handle layout(H5Pcreate(H5P_DATASET_CREATE), H5Pclose);
  H5Pset_chunk(layout, static_cast<int>(chunk.size()), chunk.data());
  if (gzip) {
    H5Pset_shuffle(layout);
    H5Pset_deflate(layout, kGzipLevel);
  }
  return layout;
}

}  // namespace

std::vector<std::uint32_t> pixelMask(const PixelMap& map) {
  constexpr std::size_t kStride = kWidth + 1;
  std::vector<std::uint32_t> mask(kPixels);
  for (std::size_t r = 0; r < static_cast<std::size_t>(kHeight); ++r) {
    const bool markedRow = map[r * kStride + kWidth] != 0;
    for (std::size_t c = 0; c < static_cast<std::size_t>(kWidth); ++c) {
      const std::uint8_t cell = map[r * kStride + c];
      std::uint32_t word = 0;
      if (cell != 0) word |= kMaskDefectiveCell;
      if (cell == 2) word |= kMaskCode2;
      if (markedRow) word |= kMaskMarkedRow;
      if (map[kHeight * kStride + c] != 0) word |= kMaskMarkedColumn;
      if (word != 0) word |= kMaskDead;
      mask[r * kWidth + c] = word;
    }
  }
  return mask;
}

bool isNexusPath(const std::string& path) {
  const std::string extension = extensionOf(path);
  return extension == ".h5" || extension == ".hdf5" || extension == ".nxs";
}

struct NexusWriter::State {
  std::string path;
  n47::FileReplacement replacement;
  Handle file, entry, detector, data, temperature;
  int frames = 0;
  bool finished = false;

  explicit State(const std::string& target) : path(target), replacement(target.c_str()) {}

  // An identifier, or the result of a step (negative on failure).
  hid_t check(hid_t result) const {
    if (result < 0) throw failure(path, "cannot be written");
    return result;
  }

  Handle group(hid_t parent, const char* name, const char* nxClass) {
    Handle group(check(H5Gcreate2(parent, name, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT)), H5Gclose);
    text(group, "NX_class", nxClass);
    return group;
  }
  void text(hid_t object, const char* name, const std::string& value) {
    const Handle type = utf8Type();
    const Handle space(H5Screate(H5S_SCALAR), H5Sclose);
    const Handle attribute(check(H5Acreate2(object, name, type, space, H5P_DEFAULT, H5P_DEFAULT)), H5Aclose);
    const char* pointer = value.c_str();
    check(H5Awrite(attribute, type, &pointer));
  }
  Handle textField(hid_t parent, const char* name, const std::string& value) {
    const Handle type = utf8Type();
    const Handle space(H5Screate(H5S_SCALAR), H5Sclose);
    Handle field(check(H5Dcreate2(parent, name, type, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT)), H5Dclose);
    const char* pointer = value.c_str();
    check(H5Dwrite(field, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, &pointer));
    return field;
  }
  void scalar(hid_t parent, const char* name, hid_t fileType, hid_t memoryType, const void* value) {
    const Handle space(H5Screate(H5S_SCALAR), H5Sclose);
    const Handle field(check(H5Dcreate2(parent, name, fileType, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT)),
                       H5Dclose);
    check(H5Dwrite(field, memoryType, H5S_ALL, H5S_ALL, H5P_DEFAULT, value));
  }
  void flag(hid_t parent, const char* name, bool value) {
    const Handle type = booleanType();
    const signed char stored = value ? 1 : 0;
    scalar(parent, name, type, type, &stored);
  }
  // A whole 1536 x 2048 map in one chunk.
  void map(hid_t parent, const char* name, hid_t fileType, hid_t memoryType, const void* values, bool gzip) {
    const hsize_t dims[2] = {kHeight, kWidth};
    const Handle space(H5Screate_simple(2, dims, nullptr), H5Sclose);
    const Handle layout = chunkedLayout({kHeight, kWidth}, gzip);
    const Handle field(check(H5Dcreate2(parent, name, fileType, space, H5P_DEFAULT, layout, H5P_DEFAULT)), H5Dclose);
    check(H5Dwrite(field, memoryType, H5S_ALL, H5S_ALL, H5P_DEFAULT, values));
  }
  // An empty series along the first axis, grown as items come.
  Handle series(hid_t parent, const char* name, hid_t fileType, std::vector<hsize_t> itemDims, bool gzip) {
    std::vector<hsize_t> dims{0}, most{H5S_UNLIMITED}, chunk{itemDims.empty() ? kTemperatureChunk : 1};
    for (const hsize_t d : itemDims) {
      dims.push_back(d);
      most.push_back(d);
      chunk.push_back(d);
    }
    const Handle space(H5Screate_simple(static_cast<int>(dims.size()), dims.data(), most.data()), H5Sclose);
    const Handle layout = chunkedLayout(chunk, gzip);
    return Handle(check(H5Dcreate2(parent, name, fileType, space, H5P_DEFAULT, layout, H5P_DEFAULT)), H5Dclose);
  }
  // Writes one item at index `at`, growing the series to hold it.
  void append(hid_t series, hsize_t at, hid_t memoryType, const void* values) {
    const Handle before(check(H5Dget_space(series)), H5Sclose);
    const int rank = H5Sget_simple_extent_ndims(before);
    std::vector<hsize_t> dims(static_cast<std::size_t>(rank));
    H5Sget_simple_extent_dims(before, dims.data(), nullptr);
    dims[0] = at + 1;
    check(H5Dset_extent(series, dims.data()));
    const Handle space(check(H5Dget_space(series)), H5Sclose);
    std::vector<hsize_t> start(dims.size(), 0), count(dims);
    start[0] = at;
    count[0] = 1;
    check(H5Sselect_hyperslab(space, H5S_SELECT_SET, start.data(), nullptr, count.data(), nullptr));
    const Handle memory(H5Screate_simple(rank, count.data(), nullptr), H5Sclose);
    check(H5Dwrite(series, memoryType, memory, space, H5P_DEFAULT, values));
  }
};

NexusWriter::NexusWriter(const std::string& path, const NexusContents& contents) : state_(new State(path)) {
  quietHdf5();
  State& s = *state_;
  if (!s.replacement.isOpen()) throw failure(path, "cannot be written");
  // HDF5 opens files by name: the replacement's own temporary, reached through its descriptor,
  // so no other file that comes to carry the temporary's name can be written.
  const std::string temporary = "/proc/self/fd/" + std::to_string(s.replacement.descriptor());
  const Handle access(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
  H5Pset_fclose_degree(access, H5F_CLOSE_STRONG);
  s.file = Handle(s.check(H5Fcreate(temporary.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, access)), H5Fclose);
  s.text(s.file, "default", "entry");
  s.text(s.file, "creator", "n47 " N47_VERSION_STRING);

  s.entry = s.group(s.file, "entry", "NXentry");
  s.text(s.entry, "default", "data");
  s.textField(s.entry, "start_time", utcNow());
  const Handle program = s.textField(s.entry, "program_name", "n47");
  s.text(program, "version", N47_VERSION_STRING);
  const Handle instrument = s.group(s.entry, "instrument", "NXinstrument");
  s.detector = s.group(instrument, "detector", "NXdetector");
  s.textField(s.detector, "description", contents.description);
  const int saturation = 16383, bits = 14;
  s.scalar(s.detector, "saturation_value", H5T_STD_I32LE, H5T_NATIVE_INT, &saturation);
  s.scalar(s.detector, "bit_depth_readout", H5T_STD_I32LE, H5T_NATIVE_INT, &bits);
  if (contents.flatfieldApplied) s.flag(s.detector, "flatfield_applied", *contents.flatfieldApplied);
  if (contents.pixelMaskApplied) s.flag(s.detector, "pixel_mask_applied", *contents.pixelMaskApplied);
  if (contents.flatfield != nullptr) {
    s.map(s.detector, "flatfield", H5T_IEEE_F32LE, H5T_NATIVE_FLOAT, contents.flatfield->data(), contents.gzip);
  }
  if (contents.pixelMap != nullptr) {
    s.map(s.detector, "pixel_mask", H5T_STD_U32LE, H5T_NATIVE_UINT32, pixelMask(*contents.pixelMap).data(),
          contents.gzip);
  }
  std::string signal = "data";
  if (contents.frames) {
    s.data = s.series(s.detector, "data", H5T_STD_U16LE, {kHeight, kWidth}, contents.gzip);
    if (contents.temperatures) {
      s.temperature = s.series(s.detector, "temperature", H5T_IEEE_F32LE, {}, false);
      s.text(s.temperature, "units", "degC");
    }
  } else {
    signal = contents.pixelMap != nullptr ? "pixel_mask" : "flatfield";
  }
  const Handle plot = s.group(s.entry, "data", "NXdata");
  s.text(plot, "signal", signal);
  const std::string source = "/entry/instrument/detector/" + signal;
  s.check(H5Lcreate_hard(s.file, source.c_str(), plot, signal.c_str(), H5P_DEFAULT, H5P_DEFAULT));
}

NexusWriter::~NexusWriter() = default;  // unfinished: HDF5 lets go of the file, the temporary goes

void NexusWriter::add(const Frame& frame, std::optional<double> temperature) {
  State& s = *state_;
  if (!s.data.valid() || s.finished) throw failure(s.path, "holds no frames");
  if (frame.size() != kPixels) throw failure(s.path, "a frame to write is not a whole frame");
  const auto at = static_cast<hsize_t>(s.frames);
  s.append(s.data, at, H5T_NATIVE_UINT16, frame.data());
  if (s.temperature.valid()) {
    const float value = temperature ? static_cast<float>(*temperature) : std::numeric_limits<float>::quiet_NaN();
    s.append(s.temperature, at, H5T_NATIVE_FLOAT, &value);
  }
  ++s.frames;
}

void NexusWriter::finish() {
  State& s = *state_;
  s.textField(s.entry, "end_time", utcNow());
  s.temperature.reset();
  s.data.reset();
  s.detector.reset();
  s.entry.reset();
  s.check(H5Fflush(s.file, H5F_SCOPE_GLOBAL));
  s.check(s.file.reset());
  if (!s.replacement.commit()) throw failure(s.path, "cannot be written");
  s.finished = true;
}

int NexusWriter::frames() const { return state_->frames; }

namespace {

std::string textAttribute(hid_t object, const char* name) {
  if (H5Aexists(object, name) <= 0) return "";
  const Handle attribute(H5Aopen(object, name, H5P_DEFAULT), H5Aclose);
  const Handle stored(H5Aget_type(attribute), H5Tclose);
  if (H5Tget_class(stored) != H5T_STRING) return "";
  if (H5Tis_variable_str(stored) > 0) {
    const Handle type = utf8Type();
    char* text = nullptr;
    if (H5Aread(attribute, type, &text) < 0 || text == nullptr) return "";
    std::string value(text);
    H5free_memory(text);
    return value;
  }
  const std::size_t size = H5Tget_size(stored);
  std::string value(size, '\0');
  const Handle type(H5Tcopy(H5T_C_S1), H5Tclose);
  H5Tset_size(type, size);
  if (H5Aread(attribute, type, value.data()) < 0) return "";
  return value.substr(0, value.find('\0'));
}

// /<root's default>/<its default>/<that group's signal>
std::string defaultSignal(hid_t file, const std::string& path) {
  std::string entry = textAttribute(file, "default");
  if (entry.empty()) entry = "entry";
  std::string signal;
  if (H5Lexists(file, entry.c_str(), H5P_DEFAULT) > 0) {
    const Handle group(H5Gopen2(file, entry.c_str(), H5P_DEFAULT), H5Gclose);
    const std::string plot = group.valid() ? textAttribute(group, "default") : "";
    if (!plot.empty() && H5Lexists(group, plot.c_str(), H5P_DEFAULT) > 0) {
      const Handle data(H5Gopen2(group, plot.c_str(), H5P_DEFAULT), H5Gclose);
      signal = data.valid() ? textAttribute(data, "signal") : "";
      if (!signal.empty()) signal = "/" + entry + "/" + plot + "/" + signal;
    }
  }
  if (signal.empty()) throw failure(path, "names no default NXdata signal; say which dataset with --dataset");
  return signal;
}

}  // namespace

Frame readNexusFrame(const std::string& path, const std::string& dataset, int index) {
  quietHdf5();
  std::error_code error;
  if (!std::filesystem::exists(path, error)) throw failure(path, "no such file");
  if (!std::filesystem::is_regular_file(path, error)) throw failure(path, "not a regular file");
  const Handle file(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
  if (!file.valid()) throw failure(path, "not a readable HDF5 file");
  const std::string name = dataset.empty() ? defaultSignal(file, path) : dataset;
  const Handle data(H5Lexists(file, name.c_str(), H5P_DEFAULT) > 0 ? H5Dopen2(file, name.c_str(), H5P_DEFAULT)
                                                                     : H5I_INVALID_HID,
                    H5Dclose);
  if (!data.valid()) throw failure(path, "has no dataset " + name);
  const Handle type(H5Dget_type(data), H5Tclose);
  const Handle space(H5Dget_space(data), H5Sclose);
  const int rank = H5Sget_simple_extent_ndims(space);
  hsize_t dims[3] = {1, 0, 0};
  if (rank == 2 || rank == 3) H5Sget_simple_extent_dims(space, dims + (3 - rank), nullptr);
  if (H5Tget_class(type) != H5T_INTEGER || H5Tget_size(type) != 2 || H5Tget_sign(type) != H5T_SGN_NONE) {
    throw failure(path, name + " does not hold 16-bit unsigned frames");
  }
  if ((rank != 2 && rank != 3) || dims[1] != kHeight || dims[2] != kWidth) {
    throw failure(path, name + " does not hold frames of " + std::to_string(kWidth) + " x " + std::to_string(kHeight));
  }
  if (index < 0 || static_cast<hsize_t>(index) >= dims[0]) {
    throw failure(path, name + " holds " + std::to_string(dims[0]) + (dims[0] == 1 ? " frame" : " frames") +
                            ", no frame " + std::to_string(index));
  }
  const hsize_t start[3] = {static_cast<hsize_t>(index), 0, 0}, count[3] = {1, kHeight, kWidth};
  H5Sselect_hyperslab(space, H5S_SELECT_SET, start + (3 - rank), nullptr, count + (3 - rank), nullptr);
  const Handle memory(H5Screate_simple(rank, count + (3 - rank), nullptr), H5Sclose);
  Frame frame(kPixels);
  if (H5Dread(data, H5T_NATIVE_UINT16, memory, space, H5P_DEFAULT, frame.data()) < 0) {
    throw failure(path, name + " cannot be read");
  }
  return frame;
}

}  // namespace n47tool
