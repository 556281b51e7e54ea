// The live view's web server: the page, the status, the pictures of the newest frame and the
// few controls, on 127.0.0.1 only. It refuses a request whose Host is not its own loopback name
// (a page elsewhere that rebinds its DNS name to 127.0.0.1 cannot read it) and a state-changing
// request whose Origin is not its own. Nothing a browser sends becomes a path.
#ifndef N47_TOOLS_VIEW_VIEW_SERVER_H
#define N47_TOOLS_VIEW_VIEW_SERVER_H

#include <memory>
#include <string>
#include <vector>

#include "map_analysis.h"
#include "view/frame_slot.h"

namespace n47tool {

// What the server asks of the live view behind it; called on the server's threads.
class LiveControl {
 public:
  virtual ~LiveControl() = default;
  virtual std::string statusJson() const = 0;
  virtual void requestCalibrationMode(bool on) = 0;
  virtual void requestPause(bool paused) = 0;
  // Saves the frame on show; returns the names of the files written. Throws std::runtime_error.
  virtual std::vector<std::string> snapshot() = 0;
};

class ViewServer {
 public:
  // `defects`: the pixel map shown as an overlay, or null.
  ViewServer(const FrameSlot& slot, LiveControl& control, const PixelMap* defects);
  ~ViewServer();
  ViewServer(const ViewServer&) = delete;
  ViewServer& operator=(const ViewServer&) = delete;

  // Binds 127.0.0.1:port (0: a free port) and returns the port; throws when it cannot.
  int bind(int port);
  // Serves on a thread of its own until stop().
  void start();
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The page, as the tool ships it.
const std::string& viewPage();

}  // namespace n47tool

#endif
