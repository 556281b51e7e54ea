// Checks of the commands' inputs, made before any work so that bad input leaves existing
// outputs as they were, and the texts that describe how a frame was corrected.
#ifndef N47_TOOLS_COMMAND_INPUTS_H
#define N47_TOOLS_COMMAND_INPUTS_H

#include <initializer_list>
#include <string>
#include <vector>

namespace n47tool {

// Throws std::runtime_error with a message for the user unless `path` ends in one of `allowed`.
void requireExtension(const std::string& path, std::initializer_list<const char*> allowed);
// A finite number from low to high, or std::runtime_error naming the option and the value.
void requireInRange(const char* option, double value, double low, double high);
// Refuses an output that is also an input, and two outputs on one file.
void refuseSameFiles(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs);
// The simulator's scene (N47SIM_SCENE_*) for "dark", "flat" or "phantom".
int sceneNumber(const std::string& scene);

std::string modeText(bool calibrationMode);
std::string mapsText(const std::string& pixelMap, const std::string& gainMap);

}  // namespace n47tool

#endif
