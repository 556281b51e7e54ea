#include "grabber.h"

#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "n47sim/model_control.h"

namespace n47tool {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSimulatorFile = "libUSB_FRM01.so";
constexpr const char* kDriverFile = "libTavrin_N47_USB_REF.so";
constexpr const char* kGrabberOperations[] = {"OpenDAQDevice", "CloseDAQDevice", "LVDS_Init",   "LVDS_SetModel",
                                              "LVDS_Start",    "LVDS_Check",     "LVDS_GetFrame", "LVDS_Close",
                                              "UART_Init",     "UART_GetData",   "UART_Close"};

struct Choice {
  std::string path, origin;  // empty path: the shipped simulator
};
Choice g_choice;

// The simulator's controls the tool uses, all present or the grabber is not the simulator.
struct SimulatorFunctions {
  decltype(&n47sim_reset) reset = nullptr;
  decltype(&n47sim_set_logging) setLogging = nullptr;
  decltype(&n47sim_set_frame) setFrame = nullptr;
  decltype(&n47sim_last_frame) lastFrame = nullptr;
  decltype(&n47sim_model_default_params) defaultParams = nullptr;
  decltype(&n47sim_model_start) startModel = nullptr;
  decltype(&n47sim_model_set_scene) setScene = nullptr;
  decltype(&n47sim_model_render) render = nullptr;
  decltype(&n47sim_model_ideal) ideal = nullptr;
  decltype(&n47sim_model_defects) defects = nullptr;
};
SimulatorFunctions g_simulator;

// dlsym also searches the libraries a library depends on: a driver named as the grabber would
// offer its simulator's functions as its own. Only what the file itself defines counts.
void* ownSymbol(void* library, const char* name) {
  void* symbol = dlsym(library, name);
  link_map* map = nullptr;
  Dl_info info{};
  if (symbol == nullptr || dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || dladdr(symbol, &info) == 0) return nullptr;
  return info.dli_fname != nullptr && std::strcmp(info.dli_fname, map->l_name) == 0 ? symbol : nullptr;
}

template <typename Function>
bool resolve(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(ownSymbol(library, name));
  return function != nullptr;
}

bool resolveSimulator(void* grabber, SimulatorFunctions& f) {
  return resolve(grabber, "n47sim_reset", f.reset) && resolve(grabber, "n47sim_set_logging", f.setLogging) &&
         resolve(grabber, "n47sim_set_frame", f.setFrame) && resolve(grabber, "n47sim_last_frame", f.lastFrame) &&
         resolve(grabber, "n47sim_model_default_params", f.defaultParams) &&
         resolve(grabber, "n47sim_model_start", f.startModel) &&
         resolve(grabber, "n47sim_model_set_scene", f.setScene) && resolve(grabber, "n47sim_model_render", f.render) &&
         resolve(grabber, "n47sim_model_ideal", f.ideal) && resolve(grabber, "n47sim_model_defects", f.defects);
}

// Where n47 is installed with its libraries: its own folder (the build tree, a copied bin/)
// and the library folder of its prefix. Else the loader's own search, from n47's RUNPATH.
std::string besideTheTool(const char* file) {
  std::error_code error;
  const fs::path folder = fs::read_symlink("/proc/self/exe", error).parent_path();
  if (!error) {
    for (const fs::path& candidate : {folder / file, (folder / N47_BIN_TO_LIB / file).lexically_normal()}) {
      if (fs::is_regular_file(candidate, error)) return candidate.string();
    }
  }
  return file;
}

// The loader's reason without the path it repeats.
std::string loaderReason(const std::string& path) {
  const char* text = dlerror();
  std::string reason = text != nullptr ? text : "unknown reason";
  if (reason.rfind(path + ": ", 0) == 0) reason.erase(0, path.size() + 2);
  return reason;
}

std::string loadedPath(void* symbol, const std::string& fallback) {
  Dl_info info{};
  std::string path = dladdr(symbol, &info) != 0 && info.dli_fname != nullptr ? info.dli_fname : fallback;
  std::error_code error;
  const fs::path full = fs::weakly_canonical(fs::absolute(path), error);
  return error ? path : full.string();
}

void* openGrabber(const Choice& choice) {
  if (choice.path.empty()) {
    const std::string path = besideTheTool(kSimulatorFile);
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (library == nullptr) {
      throw std::runtime_error("the simulator shipped with n47 (" + path + ") cannot be loaded: " + loaderReason(path));
    }
    return library;
  }
  const std::string named = choice.origin + " " + choice.path;
  // A name without a folder means a file here, never one from the loader's search path.
  const std::string path = choice.path.find('/') == std::string::npos ? "./" + choice.path : choice.path;
  std::error_code error;
  if (fs::is_directory(path, error)) throw std::runtime_error(named + ": is a folder, not a grabber library");
  if (!fs::exists(path, error)) throw std::runtime_error(named + ": no such file");
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (library == nullptr) {
    throw std::runtime_error(named + ": cannot be loaded as a shared library (" + loaderReason(path) + ")");
  }
  std::string missing;
  for (const char* operation : kGrabberOperations) {
    if (ownSymbol(library, operation) == nullptr) missing += (missing.empty() ? "" : ", ") + std::string(operation);
  }
  if (!missing.empty()) {
    dlclose(library);
    throw std::runtime_error(named + ": not a USB_FRM01 grabber library (it does not export " + missing + ")");
  }
  return library;
}

DetectorLibraries load(const Choice& choice) {
  DetectorLibraries libraries;
  void* grabber = openGrabber(choice);
  libraries.grabberPath = loadedPath(dlsym(grabber, "OpenDAQDevice"), choice.path);
  libraries.grabberIsSimulator = resolveSimulator(grabber, g_simulator);

  const std::string driverFile = besideTheTool(kDriverFile);
  void* driver = dlopen(driverFile.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (driver == nullptr) {
    throw std::runtime_error("the detector driver (" + driverFile + ") cannot be loaded: " + loaderReason(driverFile));
  }
  DriverExports& d = libraries.driver;
  std::string missing;
  const auto need = [&](const char* name, auto& function) {
    if (!resolve(driver, name, function)) missing += (missing.empty() ? "" : ", ") + std::string(name);
  };
#define N47_RESOLVE(name) need(#name, d.name);
  N47_RESOLVE(Sys_Allocation_N47) N47_RESOLVE(Sys_Free) N47_RESOLVE(CheckInterface) N47_RESOLVE(CheckSwitch)
  N47_RESOLVE(GetSwitchMsg) N47_RESOLVE(Init_Comm) N47_RESOLVE(GetTemperature) N47_RESOLVE(GetMsgLength)
  N47_RESOLVE(RunforDetector) N47_RESOLVE(Ready_Time_Chk) N47_RESOLVE(GetImagePtr) N47_RESOLVE(CalibrationMode)
  N47_RESOLVE(Map_Calibration) N47_RESOLVE(LoadPixelMap) N47_RESOLVE(LoadGainMap) N47_RESOLVE(SavePixelMap)
  N47_RESOLVE(SaveGainMap)
#undef N47_RESOLVE
  if (!missing.empty()) throw std::runtime_error(driverFile + ": not the detector driver (no " + missing + ")");
  libraries.driverPath = loadedPath(reinterpret_cast<void*>(d.Sys_Free), driverFile);
  return libraries;
}

std::optional<DetectorLibraries>& loaded() {
  static std::optional<DetectorLibraries> libraries;
  return libraries;
}

}  // namespace

void chooseGrabber(const std::string& path, const std::string& origin) {
  if (loaded()) throw std::logic_error("the grabber is chosen before the detector libraries are loaded");
  g_choice = Choice{path, origin};
}

const DetectorLibraries& detectorLibraries() {
  if (!loaded()) loaded() = load(g_choice);
  return *loaded();
}

const Simulator* loadedSimulator() {
  static const Simulator simulator;
  return detectorLibraries().grabberIsSimulator ? &simulator : nullptr;
}

const Simulator& requireSimulator(const std::string& option) {
  const Simulator* simulator = loadedSimulator();
  if (simulator == nullptr) {
    throw std::runtime_error(option + " needs the simulator; the grabber " + detectorLibraries().grabberPath +
                             " is not the simulator");
  }
  return *simulator;
}

void Simulator::reset() const {
  g_simulator.reset();
  g_simulator.setLogging(0);
}

void Simulator::setFrame(const Frame& frame) const { g_simulator.setFrame(frame.data(), frame.size()); }

void Simulator::startModel(unsigned seed) const {
  n47sim_model_params params;
  g_simulator.defaultParams(&params, seed);
  g_simulator.startModel(&params);
}

void Simulator::setScene(int scene, double dose) const { g_simulator.setScene(scene, dose); }

Frame Simulator::render() const {
  Frame frame(kPixels);
  g_simulator.render(frame.data());
  return frame;
}

Frame Simulator::ideal() const {
  Frame frame(kPixels);
  g_simulator.ideal(frame.data());
  return frame;
}

Frame Simulator::lastFrame() const {
  Frame frame(kPixels);
  g_simulator.lastFrame(frame.data());
  return frame;
}

std::vector<SimulatedDefect> Simulator::defects() const {
  std::vector<n47sim_defect> found(g_simulator.defects(nullptr, 0));
  g_simulator.defects(found.data(), found.size());
  std::vector<SimulatedDefect> defects;
  defects.reserve(found.size());
  for (const n47sim_defect& d : found) defects.push_back({d.kind, d.row, d.column});
  return defects;
}

}  // namespace n47tool
