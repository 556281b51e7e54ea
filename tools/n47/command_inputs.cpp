#include "command_inputs.h"

#include <cmath>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "image_io.h"
#include "n47sim/model_control.h"

namespace n47tool {
namespace {

namespace fs = std::filesystem;

fs::path resolved(const std::string& path) {
  std::error_code error;
  const fs::path full = fs::weakly_canonical(fs::absolute(path), error);
  return error ? fs::absolute(path).lexically_normal() : full;
}

}  // namespace

void requireExtension(const std::string& path, std::initializer_list<const char*> allowed) {
  const std::string extension = extensionOf(path);
  std::string list;
  for (const char* e : allowed) {
    if (extension == e) return;
    list += std::string(list.empty() ? "" : ", ") + e;
  }
  throw std::runtime_error(path + ": unsupported file type (use " + list + ")");
}

// NaN passes every "<" and ">" test and converts to garbage, so each number is checked whole.
void requireInRange(const char* option, double value, double low, double high) {
  if (!(std::isfinite(value) && value >= low && value <= high)) {
    std::ostringstream message;
    message << option << " must be a finite number from " << low << " to " << high << " (got " << value << ")";
    throw std::runtime_error(message.str());
  }
}

// An output that is also an input would be overwritten while (or before) it is read, and two
// outputs on one file leave only the last; both are refused before anything is read.
void refuseSameFiles(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const fs::path out = resolved(outputs[i]);
    for (const std::string& input : inputs) {
      if (out == resolved(input)) throw std::runtime_error(outputs[i] + ": is also an input; choose another output");
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (out == resolved(outputs[j])) {
        throw std::runtime_error(outputs[j] + " and " + outputs[i] + " are the same file; each output needs its own");
      }
    }
  }
}

std::string modeText(bool calibrationMode) {
  return calibrationMode ? "calibration mode (no gain, no border mask)"
                         : "normal mode (impulse filter, defect repair, gain, border mask)";
}

std::string mapsText(const std::string& pixelMap, const std::string& gainMap) {
  return "pixel map " + (pixelMap.empty() ? std::string("none") : pixelMap) + ", gain map " +
         (gainMap.empty() ? std::string("none") : gainMap);
}

int sceneNumber(const std::string& scene) {
  if (scene == "dark") return N47SIM_SCENE_DARK;
  if (scene == "flat") return N47SIM_SCENE_FLAT;
  if (scene == "phantom") return N47SIM_SCENE_PHANTOM;
  throw std::runtime_error("unknown scene '" + scene + "' (use dark, flat or phantom)");
}

}  // namespace n47tool
