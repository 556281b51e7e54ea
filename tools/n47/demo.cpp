// The main job: the whole road through the library's exports against the simulated detector,
// with pictures and a report of what the calibration found and what the correction achieved.
#include <algorithm>
#include <cctype>
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
#include "grabber.h"
#include "image_io.h"
#include "map_analysis.h"
#include "picture_text.h"
#include "n47sim/model_control.h"

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
Detection compareWithTruth(const Simulator& simulator, const PixelMap& map, const Frame& correctedFlat) {
  const double median = medianOf(correctedFlat);
  std::vector<int> truth(kPixels, 0);
  for (const SimulatedDefect& d : simulator.defects()) {
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
  // How the pictures were windowed, for their captions.
  Window phantomRawWindow, phantomCorrectedWindow, flatRawWindow, flatCorrectedWindow;
  double flatRawMedian = 0, flatCorrectedMedian = 0;
};

constexpr double kFlatWindow = 0.10;  // the before/after flat: median -+ 10 %

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

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '&') out += "&amp;";
    else if (c == '"') out += "&quot;";
    else out += c;
  }
  return out;
}

std::string fixed(double value, int decimals) {
  std::ostringstream out;
  out.precision(decimals);
  out << std::fixed << value;
  return out.str();
}

std::string windowText(const Window& window) { return fixed(window.low, 0) + " to " + fixed(window.high, 0); }

// A table: the first row is the heading; cells that read as numbers are right-aligned.
std::string table(const std::vector<std::vector<std::string>>& rows) {
  std::ostringstream out;
  out << "<table>\n";
  for (std::size_t r = 0; r < rows.size(); ++r) {
    out << "<tr>";
    for (const std::string& cell : rows[r]) {
      const bool number = !cell.empty() && (std::isdigit(static_cast<unsigned char>(cell[0])) || cell[0] == '-');
      if (r == 0) out << "<th>" << escaped(cell) << "</th>";
      else out << (number ? "<td class=\"n\">" : "<td>") << escaped(cell) << "</td>";
    }
    out << "</tr>\n";
  }
  out << "</table>\n";
  return out.str();
}

std::string figure(const char* file, const std::string& title, const std::string& caption) {
  return "<figure><h3>" + escaped(title) + "</h3><img src=\"" + file + "\">\n<figcaption>" + escaped(caption) +
         "</figcaption></figure>\n";
}

std::string htmlReport(const Report& report, const std::string& folder) {
  std::ostringstream out;
  out << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>N47 demo</title>\n"
         "<style>body{font-family:sans-serif;max-width:70em;margin:2em auto}img{max-width:100%;border:1px solid #888}"
         "table{border-collapse:collapse;margin:0.5em 0 1.5em}th,td{border:1px solid #bbb;padding:0.2em 0.7em}"
         "th{background:#eee;text-align:left}td.n{text-align:right;font-variant-numeric:tabular-nums}"
         "figure{margin:1em 0 2em}figcaption{color:#333;margin-top:0.3em}</style></head><body>\n"
         "<h1>N47 simulated-detector demo</h1>\n";
  out << "<p>Seed " << report.seed << ", calibration series of " << report.flats << " flats. Detector temperature "
      << report.temperature << " C; switch codes seen while draining: " << report.switchCodes << ".</p>\n";

  out << "<h2>Pictures</h2>\n"
      << figure("phantom_before_after.png", "Phantom: raw (left) and corrected (right)",
                "Each half in its own automatic window, its 0.5 % point black and its 99.5 % point white: raw " +
                    windowText(report.phantomRawWindow) + ", corrected " + windowText(report.phantomCorrectedWindow) +
                    " counts.")
      << figure("flat_before_after.png", "Flat exposure: raw (left) and corrected (right)",
                "Both halves in one relative window, each from its own median -10 % (black) to +10 % (white): raw median " +
                    fixed(report.flatRawMedian, 0) + " (" + windowText(report.flatRawWindow) + "), corrected median " +
                    fixed(report.flatCorrectedMedian, 0) + " (" + windowText(report.flatCorrectedWindow) +
                    " counts); the same grey step means the same relative deviation on both sides.")
      << figure("defect_map.png", "Calibrated defect map",
                "Not windowed: one pixel a map cell, colours by code as the legend under the map says; cyan rings mark "
                "single cells and small groups, red bars the ends of marked rows and columns.")
      << figure("gain_map.png", "Calibrated gain map",
                "Not windowed: colours from gain 0.80 (blue) through 1.00 (white) to 1.20 (red), clamped beyond; black where the "
                "gain is 0 or not finite. The colour bar is under the map.");

  const auto size = [&](const char* name) {
    std::error_code error;
    const auto bytes = fs::file_size(fs::path(folder) / name, error);
    return error ? std::string("-") : std::to_string(bytes);
  };
  out << "<h2>Files</h2>\n<table>\n<tr><th>File</th><th>What it holds</th><th>Bytes</th></tr>\n";
  const std::pair<const char*, const char*> files[] = {
      {"phantom_raw.raw", "the phantom as the detector delivered it (2048 x 1536, 16-bit little-endian)"},
      {"phantom_corrected.raw", "the phantom after correction"},
      {"phantom_raw.tif", "the raw phantom as a 16-bit TIFF"},
      {"phantom_corrected.tif", "the corrected phantom as a 16-bit TIFF"},
      {"pixel_map.raw", "the calibrated pixel map"},
      {"gain_map.raw", "the calibrated gain map (little-endian floats)"},
      {"report.txt", "this report as text"},
  };
  for (const auto& [name, what] : files) {
    out << "<tr><td><a href=\"" << name << "\">" << name << "</a></td><td>" << escaped(what) << "</td><td class=\"n\">"
        << size(name) << "</td></tr>\n";
  }
  out << "</table>\n";

  out << "<h2>Defects found, against the simulator's ground truth (pixels)</h2>\n";
  std::vector<std::vector<std::string>> rows{{"Kind", "In the simulator", "In the map", "Found", "Repaired in a corrected flat", "Repaired"}};
  for (const auto& [kind, counts] : report.detection.byKind) {
    rows.push_back({kindName(kind), std::to_string(counts.total), std::to_string(counts.found),
                    percent(counts.found, counts.total), std::to_string(counts.repaired),
                    percent(counts.repaired, counts.total)});
  }
  const long total = report.detection.found + report.detection.missed;
  rows.push_back({"all", std::to_string(total), std::to_string(report.detection.found),
                  percent(report.detection.found, total), "", ""});
  out << table(rows) << "<p>Good pixels marked as well: " << report.detection.falseMarks
      << ". Isolated dead and hot pixels rarely reach the map: the impulse filter removes them from every frame, "
         "the calibration flats included.</p>\n";

  const PixelMapStats& map = report.mapStats;
  long defective = 0;
  for (int code = 1; code < 256; ++code) defective += map.byCode[code];
  rows = {{"Calibrated pixel map", "Value"}, {"good cells", std::to_string(map.byCode[0])}, {"defective cells", std::to_string(defective)}};
  for (int code = 1; code < 256; ++code)
    if (map.byCode[code] != 0) rows.push_back({"cells of code " + std::to_string(code), std::to_string(map.byCode[code])});
  rows.push_back({"marked rows (repaired as lines)", std::to_string(map.markedRows) + ": " + listLines(map.markedRowList)});
  rows.push_back({"marked columns (repaired as lines)", std::to_string(map.markedColumns) + ": " + listLines(map.markedColumnList)});
  rows.push_back({"rows of defective cells (over half the row)",
                  std::to_string(map.defectiveCellRows.size()) + ": " + listLines(map.defectiveCellRows)});
  rows.push_back({"columns of defective cells (over half the column)",
                  std::to_string(map.defectiveCellColumns.size()) + ": " + listLines(map.defectiveCellColumns)});
  rows.push_back({"clusters (2 or more touching cells)", std::to_string(map.clusters)});
  rows.push_back({"largest cluster (cells)", std::to_string(map.largestCluster)});
  out << "<h2>Calibrated pixel map</h2>\n" << table(rows);

  const GainStats& gain = report.gain;
  out << "<h2>Calibrated gain map</h2>\n"
      << table({{"Mean", "Deviation", "Minimum", "Maximum", "Zero gains", "Not finite"},
                {fixed(gain.mean, 4), fixed(gain.deviation, 4), fixed(gain.minimum, 4), fixed(gain.maximum, 4),
                 std::to_string(gain.zeros), std::to_string(gain.notFinite)}});
  const long peak = std::max<long>(1, *std::max_element(gain.histogram.begin(), gain.histogram.end()));
  out << "<table>\n<tr><th>Gain</th><th>Pixels</th><th></th></tr>\n";
  for (int bin = 0; bin < static_cast<int>(gain.histogram.size()); ++bin) {
    const std::string range = bin == 0 ? "below 0.55" : bin == 19 ? "1.45 and above" : fixed(0.5 + 0.05 * bin, 2) + " to " + fixed(0.55 + 0.05 * bin, 2);
    out << "<tr><td>" << range << "</td><td class=\"n\">" << gain.histogram[static_cast<std::size_t>(bin)]
        << "</td><td><div style=\"background:#46a;height:0.8em;width:"
        << fixed(20.0 * static_cast<double>(gain.histogram[static_cast<std::size_t>(bin)]) / peak, 2) << "em\"></div></td></tr>\n";
  }
  out << "</table>\n";

  out << "<h2>Flat field</h2>\n"
      << table({{"Clear of the margin", "Raw", "Corrected"},
                {"non-uniformity (RMS)", fixed(report.flatBefore, 2) + " %", fixed(report.flatAfter, 2) + " %"},
                {"pixels more than 10 % from the median", std::to_string(report.outliersBefore), std::to_string(report.outliersAfter)}});
  rows = {{"Step", "Milliseconds"}};
  for (const auto& [name, ms] : report.timing.steps) rows.push_back({name, fixed(ms, 2)});
  out << "<h2>Time per step</h2>\n" << table(rows) << "</body></html>\n";
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
  const Simulator& simulator = requireSimulator("demo");
  simulator.startModel(options.seed);

  auto start = Clock::now();
  session.drainControlChannel();
  for (int poll = 0; poll < 50; ++poll) report.switchCodes += static_cast<int>(session.readSwitchCodes().size());
  report.temperature = session.temperature();
  report.timing.add("drain and decode 150 control messages", millisecondsSince(start));

  session.setCalibrationMode(true);
  simulator.setScene(N47SIM_SCENE_FLAT, kFlatDose);
  double captureMs = 0, calibrateMs = 0;
  for (int index = 0; index < options.flats; ++index) {
    start = Clock::now();
    const Frame flat = session.acquire();
    captureMs += millisecondsSince(start);
    start = Clock::now();
    session.calibrate(flat, index, options.flats);
    calibrateMs += millisecondsSince(start);
    showProgress("calibration series: flat", index + 1, options.flats);
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
  start = Clock::now();
  const Frame flatCorrected = session.acquire();
  report.timing.add("capture and normal-mode correction", millisecondsSince(start));
  Frame raw = simulator.lastFrame();
  report.flatBefore = nonUniformityPercent(raw);
  report.flatAfter = nonUniformityPercent(flatCorrected);
  report.outliersBefore = residualOutliers(raw);
  report.outliersAfter = residualOutliers(flatCorrected);
  const Frame flatRaw = raw;

  simulator.setScene(N47SIM_SCENE_PHANTOM, kFlatDose);
  const Frame phantomCorrected = session.acquire();
  raw = simulator.lastFrame();

  const PixelMap pixelMap = readPixelMap(file("pixel_map.raw"));
  const GainMap gainMap = readGainMap(file("gain_map.raw"));
  report.detection = compareWithTruth(simulator, pixelMap, flatCorrected);
  report.mapStats = pixelMapStats(pixelMap);
  report.gain = gainStats(gainMap);

  std::cerr << "writing pictures and the report to " << options.outputFolder << "\n";
  writeRawFrame(file("phantom_raw.raw"), raw);
  writeRawFrame(file("phantom_corrected.raw"), phantomCorrected);
  const std::string seedText = "seed " + std::to_string(options.seed);
  writeTiff16(file("phantom_raw.tif"), raw, "raw phantom frame as the simulated detector delivered it; " + seedText);
  writeTiff16(file("phantom_corrected.tif"), phantomCorrected,
              "corrected phantom frame; pixel map and gain map from a calibration series of " +
                  std::to_string(options.flats) + " flats; normal mode (impulse filter, defect repair, gain, border mask); " +
                  seedText);
  report.phantomRawWindow = autoWindow(raw);
  report.phantomCorrectedWindow = autoWindow(phantomCorrected);
  writePng(file("phantom_before_after.png"), sideBySide(toGrey(raw, report.phantomRawWindow),
                                                        toGrey(phantomCorrected, report.phantomCorrectedWindow), 2));
  // Each half in its own automatic window would stretch the corrected flat's small residue
  // to full contrast; one relative window shows how much flatter it really is.
  report.flatRawMedian = innerMedian(flatRaw);
  report.flatCorrectedMedian = innerMedian(flatCorrected);
  report.flatRawWindow = medianWindow(flatRaw, kFlatWindow);
  report.flatCorrectedWindow = medianWindow(flatCorrected, kFlatWindow);
  const Picture flats = sideBySide(toGrey(flatRaw, report.flatRawWindow), toGrey(flatCorrected, report.flatCorrectedWindow), 2);
  writePng(file("flat_before_after.png"),
           withCaption(flats,
                       {"raw (left) and corrected (right), one window: black at the median -10 %, white at +10 %",
                        "raw median " + std::to_string(std::lround(report.flatRawMedian)) + " (" +
                            windowText(report.flatRawWindow) + "), corrected median " +
                            std::to_string(std::lround(report.flatCorrectedMedian)) + " (" +
                            windowText(report.flatCorrectedWindow) + ")"},
                       3));
  writePng(file("defect_map.png"), renderPixelMap(pixelMap));
  writePng(file("gain_map.png"), renderGainMap(gainMap));
  writeText(file("report.txt"), textReport(report));
  writeText(file("report.html"), htmlReport(report, options.outputFolder));
  std::cout << textReport(report) << "\nreport: " << file("report.html") << "\n";
}

}  // namespace n47tool
