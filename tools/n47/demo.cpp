// The main job: the whole road through the library's exports against the simulated detector,
// with pictures and a report of what the calibration found and what the correction achieved.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

#include "commands.h"
#include "detector_session.h"
#include "image_io.h"
#include "map_analysis.h"
#include "n47sim/model_control.h"
#include "tavrin_n47.h"

namespace n47tool {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kFlatDose = 6000.0;
constexpr int kUniformityMargin = 32;  // clear of the masked border and the calibration margin

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Relative RMS deviation, in percent, over the frame clear of its margin.
double nonUniformityPercent(const Frame& frame) {
  double sum = 0, squares = 0;
  long n = 0;
  for (int r = kUniformityMargin; r < kHeight - kUniformityMargin; ++r)
    for (int c = kUniformityMargin; c < kWidth - kUniformityMargin; ++c) {
      const double v = frame[static_cast<std::size_t>(r) * kWidth + c];
      sum += v, squares += v * v, ++n;
    }
  const double mean = sum / n;
  return 100.0 * std::sqrt(std::max(0.0, squares / n - mean * mean)) / mean;
}

// Pixels of a corrected flat more than 10 % from its median, clear of the margin.
long residualOutliers(const Frame& frame) {
  std::vector<std::uint16_t> inner;
  for (int r = kUniformityMargin; r < kHeight - kUniformityMargin; ++r)
    for (int c = kUniformityMargin; c < kWidth - kUniformityMargin; ++c) inner.push_back(frame[static_cast<std::size_t>(r) * kWidth + c]);
  std::vector<std::uint16_t> sorted = inner;
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
  const double median = sorted[sorted.size() / 2];
  long outliers = 0;
  for (std::uint16_t v : inner) outliers += std::abs(v - median) > 0.1 * median;
  return outliers;
}

struct KindCounts {
  long total = 0, found = 0, repaired = 0;
};

struct Detection {
  std::map<int, KindCounts> byKind;  // in pixels
  long found = 0, missed = 0, falseMarks = 0;
};

const char* kindName(int kind) {
  switch (kind) {
    case N47SIM_DEFECT_DEAD: return "dead pixels";
    case N47SIM_DEFECT_HOT: return "hot pixels";
    case N47SIM_DEFECT_NOISY: return "noisy pixels";
    case N47SIM_DEFECT_CLUSTER: return "cluster pixels";
    case N47SIM_DEFECT_ROW: return "defective rows (pixels)";
    case N47SIM_DEFECT_COLUMN: return "defective columns (pixels)";
    default: return "other";
  }
}

double medianOf(const Frame& frame) {
  std::vector<std::uint16_t> sorted(frame.begin(), frame.end());
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
  return sorted[sorted.size() / 2];
}

// Compares the calibrated map's pixel cells with the simulator's defect list, pixel by pixel,
// and counts the defects that a corrected flat shows within 10 % of its median (repaired by
// the map or, for isolated pixels, by the impulse filter that runs on every frame).
Detection compareWithTruth(const PixelMap& map, const Frame& correctedFlat) {
  const double median = medianOf(correctedFlat);
  std::vector<n47sim_defect> defects(n47sim_model_defects(nullptr, 0));
  n47sim_model_defects(defects.data(), defects.size());
  std::vector<int> truth(kPixels, 0);
  for (const n47sim_defect& d : defects) {
    if (d.column < 0) {
      for (int c = 0; c < kWidth; ++c) truth[static_cast<std::size_t>(d.row) * kWidth + c] = d.kind;
    } else if (d.row < 0) {
      for (int r = 0; r < kHeight; ++r) truth[static_cast<std::size_t>(r) * kWidth + d.column] = d.kind;
    } else {
      truth[static_cast<std::size_t>(d.row) * kWidth + d.column] = d.kind;
    }
  }
  Detection detection;
  for (int r = 0; r < kHeight; ++r)
    for (int c = 0; c < kWidth; ++c) {
      const int kind = truth[static_cast<std::size_t>(r) * kWidth + c];
      const bool marked = map[static_cast<std::size_t>(r) * (kWidth + 1) + c] != 0;
      if (kind != 0) {
        KindCounts& counts = detection.byKind[kind];
        ++counts.total;
        counts.found += marked;
        const bool inBorder = r < 20 || r >= kHeight - 20 || c < 20 || c >= kWidth - 20;
        counts.repaired += inBorder || std::abs(correctedFlat[static_cast<std::size_t>(r) * kWidth + c] - median) <= 0.1 * median;
        (marked ? detection.found : detection.missed) += 1;
      } else if (marked) {
        ++detection.falseMarks;
      }
    }
  return detection;
}

struct Timing {
  std::vector<std::pair<std::string, double>> steps;  // name, milliseconds
  void add(const std::string& name, double ms) { steps.emplace_back(name, ms); }
};

struct Report {
  unsigned seed = 0;
  int flats = 0;
  int temperature = 0;
  int switchCodes = 0;
  Detection detection;
  PixelMapStats mapStats;
  GainStats gain;
  double flatBefore = 0, flatAfter = 0;
  long outliersBefore = 0, outliersAfter = 0;
  Timing timing;
};

std::string percent(long part, long whole) {
  std::ostringstream out;
  out.precision(1);
  out << std::fixed << (whole > 0 ? 100.0 * part / whole : 0.0) << " %";
  return out.str();
}

std::string textReport(const Report& report) {
  std::ostringstream out;
  out.precision(2);
  out << std::fixed;
  out << "N47 simulated-detector demo (seed " << report.seed << ", " << report.flats << " flats)\n\n";
  out << "Detector temperature: " << report.temperature << " C; switch codes seen while draining: " << report.switchCodes
      << "\n\nDefect detection against the simulator's ground truth (pixels):\n";
  for (const auto& [kind, counts] : report.detection.byKind) {
    out << "  " << kindName(kind) << ": " << counts.found << " of " << counts.total << " in the map ("
        << percent(counts.found, counts.total) << "), " << counts.repaired << " repaired in a corrected flat ("
        << percent(counts.repaired, counts.total) << ")\n";
  }
  const long total = report.detection.found + report.detection.missed;
  out << "  all: " << report.detection.found << " found, " << report.detection.missed << " missed ("
      << percent(report.detection.found, total) << " found), " << report.detection.falseMarks
      << " good pixels marked as well\n"
      << "  (isolated dead and hot pixels rarely reach the map: the impulse filter removes them from every\n"
      << "   frame, the calibration flats included)\n\n";
  out << "Calibrated pixel map:\n" << describe(report.mapStats) << "\nCalibrated gain map:\n" << describe(report.gain);
  out << "\nFlat-field non-uniformity (RMS, clear of the margin): " << report.flatBefore << " % before, "
      << report.flatAfter << " % after correction\n";
  out << "Pixels more than 10 % from the median of a flat: " << report.outliersBefore << " before, "
      << report.outliersAfter << " after correction\n\nTime per step:\n";
  for (const auto& [name, ms] : report.timing.steps) out << "  " << name << ": " << ms << " ms\n";
  return out.str();
}

std::string htmlReport(const Report& report) {
  std::ostringstream out;
  out << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>N47 demo</title>\n"
         "<style>body{font-family:sans-serif;max-width:70em;margin:2em auto}img{max-width:100%;border:1px solid #888}"
         "pre{background:#f4f4f4;padding:1em}</style></head><body>\n"
         "<h1>N47 simulated-detector demo</h1>\n"
         "<h2>Phantom: raw (left) and corrected (right)</h2><img src=\"phantom_before_after.png\">\n"
         "<h2>Flat exposure: raw (left) and corrected (right)</h2><img src=\"flat_before_after.png\">\n"
         "<h2>Calibrated defect map</h2><img src=\"defect_map.png\">\n"
         "<h2>Calibrated gain map (blue below 1, red above)</h2><img src=\"gain_map.png\">\n"
         "<h2>Figures</h2><pre>";
  for (char c : textReport(report)) {
    if (c == '<') out << "&lt;";
    else if (c == '>') out << "&gt;";
    else if (c == '&') out << "&amp;";
    else out << c;
  }
  out << "</pre></body></html>\n";
  return out.str();
}

void writeText(const std::string& path, const std::string& text) { writeTextFile(path, text); }

}  // namespace

void runDemo(const DemoOptions& options) {
  if (options.flats < 1 || options.flats > 1000) throw std::runtime_error("--flats must lie between 1 and 1000");
  std::error_code error;
  fs::create_directories(options.outputFolder, error);
  if (!fs::is_directory(options.outputFolder)) throw std::runtime_error(options.outputFolder + ": cannot create the folder");
  const auto file = [&](const char* name) { return (fs::path(options.outputFolder) / name).string(); };
  checkWritable(file("report.txt"));

  Report report;
  report.seed = options.seed;
  report.flats = options.flats;
  DetectorSession session;
  n47sim_model_params params;
  n47sim_model_default_params(&params, options.seed);
  n47sim_model_start(&params);

  auto start = Clock::now();
  Init_Comm();
  for (int poll = 0; poll < 50; ++poll) {
    CheckSwitch();
    for (int i = 0; i < GetMsgLength(); ++i) report.switchCodes += GetSwitchMsg(i) != 0;
  }
  report.temperature = GetTemperature();
  report.timing.add("drain and decode 150 control messages", millisecondsSince(start));

  session.setCalibrationMode(true);
  n47sim_model_set_scene(N47SIM_SCENE_FLAT, kFlatDose);
  double captureMs = 0, calibrateMs = 0;
  for (int index = 0; index < options.flats; ++index) {
    showProgress("calibration series: flat", index + 1, options.flats);
    start = Clock::now();
    const Frame flat = session.acquire();
    captureMs += millisecondsSince(start);
    start = Clock::now();
    session.calibrate(flat, index, options.flats);
    calibrateMs += millisecondsSince(start);
  }
  finishProgress();
  report.timing.add("capture and calibration-mode correction, per flat", captureMs / options.flats);
  report.timing.add("calibration step, per flat", calibrateMs / options.flats);

  start = Clock::now();
  session.savePixelMap(file("pixel_map.raw"));
  session.saveGainMap(file("gain_map.raw"));
  session.loadPixelMap(file("pixel_map.raw"));
  session.loadGainMap(file("gain_map.raw"));
  report.timing.add("save and reload both maps", millisecondsSince(start));
  session.setCalibrationMode(false);

  std::cerr << "acquiring a flat and the phantom in normal mode\n";
  Frame raw(kPixels);
  start = Clock::now();
  const Frame flatCorrected = session.acquire();
  report.timing.add("capture and normal-mode correction", millisecondsSince(start));
  n47sim_last_frame(raw.data());
  report.flatBefore = nonUniformityPercent(raw);
  report.flatAfter = nonUniformityPercent(flatCorrected);
  report.outliersBefore = residualOutliers(raw);
  report.outliersAfter = residualOutliers(flatCorrected);
  const Frame flatRaw = raw;

  n47sim_model_set_scene(N47SIM_SCENE_PHANTOM, kFlatDose);
  const Frame phantomCorrected = session.acquire();
  n47sim_last_frame(raw.data());

  const PixelMap pixelMap = readPixelMap(file("pixel_map.raw"));
  const GainMap gainMap = readGainMap(file("gain_map.raw"));
  report.detection = compareWithTruth(pixelMap, flatCorrected);
  report.mapStats = pixelMapStats(pixelMap);
  report.gain = gainStats(gainMap);

  std::cerr << "writing pictures and the report to " << options.outputFolder << "\n";
  writeRawFrame(file("phantom_raw.raw"), raw);
  writeRawFrame(file("phantom_corrected.raw"), phantomCorrected);
  writeTiff16(file("phantom_raw.tif"), raw);
  writeTiff16(file("phantom_corrected.tif"), phantomCorrected);
  const Window window = autoWindow(phantomCorrected);
  writePng(file("phantom_before_after.png"), sideBySide(toGrey(raw, autoWindow(raw)), toGrey(phantomCorrected, window), 2));
  writePng(file("flat_before_after.png"),
           sideBySide(toGrey(flatRaw, autoWindow(flatRaw)), toGrey(flatCorrected, autoWindow(flatCorrected)), 2));
  writePng(file("defect_map.png"), renderPixelMap(pixelMap));
  writePng(file("gain_map.png"), renderGainMap(gainMap));
  writeText(file("report.txt"), textReport(report));
  writeText(file("report.html"), htmlReport(report));
  std::cout << textReport(report) << "\nreport: " << file("report.html") << "\n";
}

}  // namespace n47tool
