// n47: the detector library's command-line tool (demo, offline calibration and correction,
// map inspection, conversion and simulation).
#include <CLI/CLI.hpp>

#include <iostream>
#include <stdexcept>

#include "commands.h"

int main(int argc, char** argv) {
  CLI::App app{"n47: drive the N47 detector library against the simulated detector"};
  app.require_subcommand(1);

  n47tool::DemoOptions demo;
  auto* demoCommand = app.add_subcommand("demo", "calibrate the simulated detector, correct a phantom, write pictures and a report");
  demoCommand->add_option("--out", demo.outputFolder, "output folder")->capture_default_str();
  demoCommand->add_option("--seed", demo.seed, "seed of the simulated detector")->capture_default_str();
  demoCommand->add_option("--flats", demo.flats, "flat frames in the calibration series")->capture_default_str()->check(CLI::Range(1, 1000));

  std::vector<std::string> flats;
  std::string pixelMapOut, gainMapOut;
  auto* calibrate = app.add_subcommand("calibrate", "build a pixel map and a gain map from raw flat frames");
  calibrate->add_option("flats", flats, "raw flat frames (2048 x 1536, 16-bit little-endian)")->required();
  calibrate->add_option("--pixel-map", pixelMapOut, "pixel-map file to write")->required();
  calibrate->add_option("--gain-map", gainMapOut, "gain-map file to write")->required();

  n47tool::CorrectOptions correct;
  auto* correctCommand = app.add_subcommand("correct", "correct a raw frame through the library");
  correctCommand->add_option("input", correct.input, "raw frame")->required();
  correctCommand->add_option("output", correct.output, "output: .raw, .tif or .png")->required();
  correctCommand->add_option("--pixel-map", correct.pixelMap, "pixel-map file to load");
  correctCommand->add_option("--gain-map", correct.gainMap, "gain-map file to load");
  correctCommand->add_flag("--calibration-mode", correct.calibrationMode, "leave out the gain and the border mask");

  std::string mapFile, renderOut;
  auto* maps = app.add_subcommand("maps", "inspect pixel-map and gain-map files");
  maps->require_subcommand(1);
  auto* stats = maps->add_subcommand("stats", "counts and statistics of a map file");
  stats->add_option("file", mapFile, "pixel-map or gain-map file")->required();
  auto* render = maps->add_subcommand("render", "draw a map file as a PNG picture");
  render->add_option("file", mapFile, "pixel-map or gain-map file")->required();
  render->add_option("output", renderOut, "PNG file")->required();

  std::string convertIn, convertOut;
  std::optional<double> low, high;
  auto* convert = app.add_subcommand("convert", "convert a raw frame to a 16-bit TIFF or an 8-bit PNG");
  convert->add_option("input", convertIn, "raw frame")->required();
  convert->add_option("output", convertOut, "output: .tif or .png")->required();
  convert->add_option("--window-low", low, "value shown black in a PNG (default: automatic)");
  convert->add_option("--window-high", high, "value shown white in a PNG (default: automatic)");

  n47tool::SimulateOptions simulate;
  auto* simulateCommand = app.add_subcommand("simulate", "write a raw frame from the simulated detector");
  simulateCommand->add_option("scene", simulate.scene, "dark, flat or phantom")->required();
  simulateCommand->add_option("output", simulate.output, "raw frame to write")->required();
  simulateCommand->add_option("--seed", simulate.seed, "seed of the simulated detector")->capture_default_str();
  simulateCommand->add_option("--dose", simulate.dose, "signal at unit gain, counts above dark")->capture_default_str();
  simulateCommand->add_option("--ideal", simulate.idealOutput, "also write the noise-free ideal image here");

  CLI11_PARSE(app, argc, argv);
  try {
    if (*demoCommand) n47tool::runDemo(demo);
    if (*calibrate) n47tool::runCalibrate(flats, pixelMapOut, gainMapOut);
    if (*correctCommand) n47tool::runCorrect(correct);
    if (*stats) n47tool::runMapsStats(mapFile);
    if (*render) n47tool::runMapsRender(mapFile, renderOut);
    if (*convert) n47tool::runConvert(convertIn, convertOut, low, high);
    if (*simulateCommand) n47tool::runSimulate(simulate);
  } catch (const std::exception& error) {
    std::cerr << "n47: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
