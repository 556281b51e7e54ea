// Snapshots of the live view: the full frame on show, written into the chosen folder under a
// name made here, never one that came from the browser.
#ifndef N47_TOOLS_VIEW_SNAPSHOT_H
#define N47_TOOLS_VIEW_SNAPSHOT_H

#include <string>
#include <vector>

#include "view/frame_slot.h"

namespace n47tool {

// "n47_20261209-211502_frame000123": UTC time of capture and the frame's number.
std::string snapshotStem(const LiveFrame& frame);

// Writes the frame in every snapshot format and returns the names of the files written (inside
// `folder`). A name that is taken gets "_2", "_3", ... rather than replacing a file.
// `description` says how the frame was taken. Throws std::runtime_error.
std::vector<std::string> saveSnapshot(const std::string& folder, const LiveFrame& frame, const std::string& description);

}  // namespace n47tool

#endif
