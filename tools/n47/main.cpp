// n47: the detector library's command-line tool (demo, offline calibration and correction,
// map inspection, conversion, simulation; and on the detector: info, acquisition, calibration,
// the live view).
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <stdexcept>

#include "commands.h"
#include "grabber.h"
#include "interruption.h"
#include "tavrin_n47.h"

namespace {

constexpr int kUsageError = 2;

// CLI11 reports a word that names no subcommand only as a missing subcommand; a user who
// mistyped a command should read which word was not understood.
std::string unknownCommand(CLI::App& app, int argc, char** argv) {
  CLI::App* level = &app;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    const auto subcommands = level->get_subcommands([](const CLI::App*) { return true; });
    if (word.empty() || word[0] == '-' || subcommands.empty()) return "";
    std::string names;
    for (const CLI::App* sub : subcommands) {
      if (sub->check_name(word)) {
        level = const_cast<CLI::App*>(sub);
        names.clear();
        break;
      }
      names += (names.empty() ? "" : ", ") + sub->get_name();
    }
    if (!names.empty()) return "unknown command '" + word + "' (use " + names + ")";
  }
  std::string names;
  for (const CLI::App* sub : level->get_subcommands([](const CLI::App*) { return true; })) {
    names += (names.empty() ? "" : ", ") + sub->get_name();
  }
  return names.empty() ? "" : "a command is needed (use " + names + ")";
}

// The maps a command corrects with, and whether it corrects as in calibration mode.
void addCorrectionOptions(CLI::App* command, std::string& pixelMap, std::string& gainMap, bool& calibrationMode) {
  command->add_option("--pixel-map", pixelMap, "pixel-map file to load");
  command->add_option("--gain-map", gainMap, "gain-map file to load");
  command->add_flag("--calibration-mode", calibrationMode, "leave out the gain and the border mask");
}

// CLI11 reads an integer as C does, "010" as 8 and "09" as no number; a user types decimal.
// Every integer option of `app` and its commands gets its digits without leading zeros, and
// anything but a sign and decimal digits is refused.
void readIntegersAsDecimal(CLI::App& app) {
  for (CLI::Option* option : app.get_options()) {
    const std::string type = option->get_type_name();
    if (type.rfind("INT", 0) != 0 && type.rfind("UINT", 0) != 0) continue;
    option->transform(CLI::Validator(
        [](std::string& text) -> std::string {
          const std::size_t digits = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
          if (text.size() == digits || text.find_first_not_of("0123456789", digits) != std::string::npos) {
            return "not a decimal integer: " + text;
          }
          const std::size_t first = std::min(text.find_first_not_of('0', digits), text.size() - 1);
          text.erase(digits, first - digits);
          return "";
        },
        ""));
  }
  for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) readIntegersAsDecimal(*command);
}

void addCompressOption(CLI::App* command, std::string& compress) {
  command->add_option("--compress", compress, "compression of an .h5/.nxs output: gzip (deflate with shuffle) or none")
      ->check(CLI::IsMember({"gzip", "none"}))
      ->capture_default_str();
}

// A live command's grabber: --grabber, else N47_GRABBER, else the simulator beside n47.
void addGrabberOption(CLI::App* command, std::string& grabber) {
  command->add_option("--grabber", grabber,
                      "USB_FRM01 grabber library to drive the detector with (default: $N47_GRABBER, else the "
                      "simulator installed with n47)");
}

void chooseLiveGrabber(const std::string& option) {
  const char* variable = std::getenv("N47_GRABBER");
  if (!option.empty()) {
    n47tool::chooseGrabber(option, "--grabber ");
  } else if (variable != nullptr && *variable != '\0') {
    n47tool::chooseGrabber(variable, "N47_GRABBER=");
  }
}

// The options given among those that shape the simulator's frames.
std::vector<std::string> givenOf(CLI::App* command, std::initializer_list<const char*> options) {
  std::vector<std::string> given;
  for (const char* option : options) {
    if (command->count(option) > 0) given.emplace_back(option);
  }
  return given;
}

// calibrate reads flat files or captures its flats, never both; what shapes a capture has no
// meaning for files.
const char* calibrateMisuse(CLI::App* calibrate, bool fromFiles, bool acquiring) {
  if (fromFiles == acquiring) return "calibrate takes flat frames or --acquire N, one of the two";
  if (fromFiles && !givenOf(calibrate, {"--save-flats", "--compress", "--dose", "--seed", "--grabber"}).empty()) {
    return "--save-flats, --compress, --dose, --seed and --grabber go with --acquire; flat files are read as they are";
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"n47: drive the N47 detector through its library, on the simulated detector or a USB_FRM01 grabber"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "n47 " N47_VERSION_STRING, "print the version and exit");

  n47tool::DemoOptions demo;
  auto* demoCommand = app.add_subcommand("demo", "calibrate the simulated detector, correct a phantom, write pictures and a report");
  demoCommand->add_option("--out", demo.outputFolder, "output folder")->capture_default_str();
  demoCommand->add_option("--seed", demo.seed, "seed of the simulated detector")->capture_default_str();
  demoCommand->add_option("--flats", demo.flats, "flat frames in the calibration series")->capture_default_str()->check(CLI::Range(1, 1000));

  std::string grabber;  // of the live commands
  std::vector<std::string> flats;
  n47tool::CalibrateAcquireOptions calibrateLive;
  auto* calibrate = app.add_subcommand("calibrate", "build a pixel map and a gain map from flat frames");
  calibrate->add_option("flats", flats, "flat frames: raw (2048 x 1536, 16-bit little-endian) or n47 TIFF");
  calibrate->add_option("--pixel-map", calibrateLive.pixelMap, "pixel-map file to write")->required();
  calibrate->add_option("--gain-map", calibrateLive.gainMap, "gain-map file to write")->required();
  calibrate->add_option("--acquire", calibrateLive.frames, "capture N flats from the detector instead of reading files");
  calibrate->add_option("--save-flats", calibrateLive.savedFlats,
                        "with --acquire: keep the flats as captured (TIFF, or NeXus .h5/.nxs)");
  addCompressOption(calibrate, calibrateLive.compress);
  calibrate->add_option("--dose", calibrateLive.dose, "with --acquire on the simulator: signal at unit gain")->capture_default_str();
  calibrate->add_option("--seed", calibrateLive.seed, "with --acquire on the simulator: its seed")->capture_default_str();
  addGrabberOption(calibrate, grabber);

  n47tool::CorrectOptions correct;
  auto* correctCommand = app.add_subcommand("correct", "correct a frame through the library");
  correctCommand->add_option("input", correct.input, "frame: .raw or a 16-bit TIFF of 2048 x 1536")->required();
  correctCommand->add_option("output", correct.output, "output: .raw, .tif, .png, or NeXus .h5/.nxs")->required();
  addCompressOption(correctCommand, correct.compress);
  addCorrectionOptions(correctCommand, correct.pixelMap, correct.gainMap, correct.calibrationMode);
  correctCommand->add_option("--window-low", correct.windowLow, "value shown black in a PNG (default: automatic)");
  correctCommand->add_option("--window-high", correct.windowHigh, "value shown white in a PNG (default: automatic)");

  std::string mapFile, renderOut;
  auto* maps = app.add_subcommand("maps", "inspect pixel-map and gain-map files");
  maps->require_subcommand(1);
  auto* stats = maps->add_subcommand("stats", "counts and statistics of a map file");
  stats->add_option("file", mapFile, "pixel-map or gain-map file")->required();
  auto* render = maps->add_subcommand("render", "draw a map file as a PNG picture");
  render->add_option("file", mapFile, "pixel-map or gain-map file")->required();
  render->add_option("output", renderOut, "PNG file")->required();
  std::string exportOut, exportCompress = "none";
  auto* exportMap = maps->add_subcommand("export", "write a pixel map as a NeXus pixel_mask (a gain map as a flatfield)");
  exportMap->add_option("file", mapFile, "pixel-map or gain-map file")->required();
  exportMap->add_option("output", exportOut, "NeXus file: .h5 or .nxs")->required();
  addCompressOption(exportMap, exportCompress);

  n47tool::ConvertOptions converting;
  auto* convert = app.add_subcommand("convert", "convert a frame to a 16-bit TIFF, an 8-bit PNG or NeXus");
  convert->add_option("input", converting.input, "frame: .raw, a 16-bit TIFF of 2048 x 1536, or NeXus .h5/.nxs")
      ->required();
  convert->add_option("output", converting.output, "output: .tif, .png, or NeXus .h5/.nxs")->required();
  convert->add_option("--dataset", converting.dataset, "dataset of a NeXus input (default: its NXdata signal)");
  convert->add_option("--frame", converting.frame, "frame of that dataset, from 0")->capture_default_str();
  addCompressOption(convert, converting.compress);
  convert->add_option("--window-low", converting.windowLow, "value shown black in a PNG (default: automatic)");
  convert->add_option("--window-high", converting.windowHigh, "value shown white in a PNG (default: automatic)");

  n47tool::SimulateOptions simulate;
  auto* simulateCommand = app.add_subcommand("simulate", "write raw frames from the simulated detector");
  simulateCommand->add_option("scene", simulate.scene, "dark, flat or phantom")->required();
  simulateCommand->add_option("output", simulate.output, "raw frame to write")->required();
  simulateCommand->add_option("--seed", simulate.seed, "seed of the simulated detector")->capture_default_str();
  simulateCommand->add_option("--dose", simulate.dose, "signal at unit gain, counts above dark")->capture_default_str();
  simulateCommand->add_option("--ideal", simulate.idealOutput, "also write the noise-free ideal image here");
  simulateCommand->add_option("--frames", simulate.frames, "write N frames with fresh noise, OUT_000.raw ...");

  n47tool::AcquireOptions acquire;
  auto* acquireCommand = app.add_subcommand("acquire", "acquire frames from the detector into a multi-page TIFF or NeXus");
  acquireCommand->add_option("output", acquire.output, "TIFF file, one page a frame, or NeXus .h5/.nxs")->required();
  addCompressOption(acquireCommand, acquire.compress);
  acquireCommand->add_option("--frames", acquire.frames, "frames to acquire")->capture_default_str();
  addCorrectionOptions(acquireCommand, acquire.pixelMap, acquire.gainMap, acquire.calibrationMode);
  acquireCommand->add_option("--scene", acquire.scene, "simulator only: dark, flat or phantom")->capture_default_str();
  acquireCommand->add_option("--dose", acquire.dose, "simulator only: signal at unit gain, counts above dark")->capture_default_str();
  acquireCommand->add_option("--seed", acquire.seed, "simulator only: seed of the simulated detector")->capture_default_str();
  addGrabberOption(acquireCommand, grabber);

  auto* info = app.add_subcommand("info", "the driver, the grabber, whether the device opens, its temperature");
  addGrabberOption(info, grabber);

  n47tool::ViewOptions view;
  auto* viewCommand = app.add_subcommand("view", "acquire continuously and show the frames live in a browser");
  viewCommand->add_option("--port", view.port, "port on 127.0.0.1 to serve the page on (0: any free one)")->capture_default_str();
  viewCommand->add_option("--pixel-map", view.pixelMap, "pixel-map file to load (also shown as an overlay)");
  viewCommand->add_option("--gain-map", view.gainMap, "gain-map file to load");
  viewCommand->add_option("--out", view.outputFolder, "folder that snapshots are written into")->capture_default_str();
  addGrabberOption(viewCommand, grabber);

  readIntegersAsDecimal(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(error);  // --help, --version
    const std::string unknown = unknownCommand(app, argc, argv);
    std::cerr << "n47: " << (unknown.empty() ? std::string(error.what()) : unknown) << "\n"
              << "Run with --help for more information.\n";
    return kUsageError;
  }
  const bool calibrateLiveRun = *calibrate && calibrate->count("--acquire") > 0;
  if (const char* misuse = *calibrate ? calibrateMisuse(calibrate, !flats.empty(), calibrateLiveRun) : nullptr) {
    std::cerr << "n47: " << misuse << "\nRun with --help for more information.\n";
    return kUsageError;
  }
  n47tool::installInterruptHandlers();
  try {
    // Only the live commands take a grabber; the others replay or synthesise frames on the
    // simulator shipped with n47.
    if (*info || *acquireCommand || calibrateLiveRun || *viewCommand) chooseLiveGrabber(grabber);
    if (*info) return n47tool::runInfo();
    if (calibrateLiveRun) {
      calibrateLive.simulatorOptions = givenOf(calibrate, {"--dose", "--seed"});
      return n47tool::runCalibrateAcquired(calibrateLive);
    }
    if (*acquireCommand) {
      acquire.simulatorOptions = givenOf(acquireCommand, {"--scene", "--dose", "--seed"});
      return n47tool::runAcquire(acquire);
    }
    if (*viewCommand) return n47tool::runView(view);
    if (*demoCommand) n47tool::runDemo(demo);
    if (*calibrate) n47tool::runCalibrate(flats, calibrateLive.pixelMap, calibrateLive.gainMap);
    if (*correctCommand) n47tool::runCorrect(correct);
    if (*stats) n47tool::runMapsStats(mapFile);
    if (*render) n47tool::runMapsRender(mapFile, renderOut);
    if (*exportMap) n47tool::runMapsExport(mapFile, exportOut, exportCompress);
    if (*convert) n47tool::runConvert(converting);
    if (*simulateCommand) n47tool::runSimulate(simulate);
  } catch (const std::exception& error) {
    std::cerr << "n47: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
