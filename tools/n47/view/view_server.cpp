#include "view/view_server.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "view/frame_picture.h"

namespace n47tool {
namespace {

// A page waits this long for a newer frame before it is given the one it has (paused, or the
// device stalled), so a request never holds a server thread for long.
constexpr std::chrono::milliseconds kFrameWait{500};
// Defect cells listed for the overlay; a map with more shows these.
constexpr std::size_t kMostDefectCells = 100000;

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// A finite number from the query, `fallback` when absent; nullopt when present but no number.
std::optional<double> numberParam(const httplib::Request& request, const char* name, double fallback) {
  if (!request.has_param(name)) return fallback;
  const std::string text = request.get_param_value(name);
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

int clampedInt(double value) { return static_cast<int>(std::clamp(value, -1e6, 1e6)); }

void refuse(httplib::Response& response, int status, const std::string& why) {
  response.status = status;
  response.set_content(why + "\n", "text/plain; charset=utf-8");
}

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\', out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string defectsJson(const PixelMap* map) {
  if (map == nullptr) return "{\"loaded\":false}";
  const PixelMapStats stats = pixelMapStats(*map);
  std::vector<bool> markedColumn(kWidth, false);
  for (const int c : stats.markedColumnList) markedColumn[static_cast<std::size_t>(c)] = true;
  std::ostringstream json;
  json << "{\"loaded\":true,\"cells\":[";
  std::size_t listed = 0;
  for (int r = 0; r < kHeight && listed < kMostDefectCells; ++r) {
    if ((*map)[static_cast<std::size_t>(r) * (kWidth + 1) + kWidth] != 0) continue;  // drawn as a line
    for (int c = 0; c < kWidth && listed < kMostDefectCells; ++c) {
      if ((*map)[static_cast<std::size_t>(r) * (kWidth + 1) + c] == 0 || markedColumn[static_cast<std::size_t>(c)]) continue;
      json << (listed++ == 0 ? "" : ",") << c << ',' << r;
    }
  }
  const auto list = [&](const std::vector<int>& lines) {
    std::string out;
    for (const int line : lines) {
      if (!out.empty()) out += ',';
      out += std::to_string(line);
    }
    return out;
  };
  json << "],\"rows\":[" << list(stats.markedRowList) << "],\"columns\":[" << list(stats.markedColumnList) << "]}";
  return json.str();
}

std::string histogramJson(const LiveFrame& frame) {
  constexpr int kBins = 256, kBinWidth = 64;  // 14 bits; the last bin also takes everything above
  std::vector<std::uint64_t> bins(kBins, 0);
  const std::vector<std::uint32_t>& counts = frame.histogram();
  for (std::size_t value = 0; value < counts.size(); ++value)
    bins[std::min<std::size_t>(value / kBinWidth, kBins - 1)] += counts[value];
  const Window automatic = frame.automaticWindow();
  std::ostringstream json;
  json << "{\"frame\":" << frame.number << ",\"bin_width\":" << kBinWidth << ",\"auto_low\":" << automatic.low
       << ",\"auto_high\":" << automatic.high << ",\"counts\":[";
  for (int b = 0; b < kBins; ++b) json << (b == 0 ? "" : ",") << bins[static_cast<std::size_t>(b)];
  json << "]}";
  return json.str();
}

}  // namespace

struct ViewServer::Impl {
  const FrameSlot& slot;
  LiveControl& control;
  const std::string defects;
  httplib::Server server;
  std::thread thread;
  std::atomic<bool> ended{false};
  std::vector<std::string> ownHosts, ownOrigins;

  Impl(const FrameSlot& s, LiveControl& c, const PixelMap* map) : slot(s), control(c), defects(defectsJson(map)) {}

  // Host and Origin, before any route sees the request.
  httplib::Server::HandlerResponse screen(const httplib::Request& request, httplib::Response& response) {
    const std::string host = lowered(request.get_header_value("Host"));
    if (std::find(ownHosts.begin(), ownHosts.end(), host) == ownHosts.end()) {
      refuse(response, 403, "refused: the Host header names no loopback address of this server");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (request.method != "GET" && request.method != "HEAD" && request.has_header("Origin")) {
      const std::string origin = lowered(request.get_header_value("Origin"));
      if (std::find(ownOrigins.begin(), ownOrigins.end(), origin) == ownOrigins.end()) {
        refuse(response, 403, "refused: a request that changes the view must come from its own page");
        return httplib::Server::HandlerResponse::Handled;
      }
    }
    return httplib::Server::HandlerResponse::Unhandled;
  }

  void picture(const httplib::Request& request, httplib::Response& response) {
    const auto after = numberParam(request, "after", 0);
    const auto x = numberParam(request, "x", 0), y = numberParam(request, "y", 0);
    const auto width = numberParam(request, "width", kWidth), height = numberParam(request, "height", kHeight);
    const auto binning = numberParam(request, "binning", 1);
    const auto low = numberParam(request, "low", NAN), high = numberParam(request, "high", NAN);
    if (!after || !x || !y || !width || !height || !binning || !low || !high) {
      return refuse(response, 400, "the picture's parameters are numbers");
    }
    const auto newerThan = static_cast<long>(std::clamp(*after, -1.0, 1e15));
    const std::shared_ptr<const LiveFrame> frame = slot.newerThan(newerThan, kFrameWait);
    if (!frame) return refuse(response, 503, "no frame yet");
    Window window = frame->automaticWindow();
    if (!std::isnan(*low) && !std::isnan(*high)) {
      // Any finite numbers arrive; kept where 8-bit levels stay meaningful.
      const double from = std::clamp(*low, 0.0, 65534.0);
      window = {from, std::clamp(*high, from + 1.0, 65535.0)};
    }
    const FrameRegion region =
        clampRegion({clampedInt(*x), clampedInt(*y), clampedInt(*width), clampedInt(*height), clampedInt(*binning)});
    const std::string jpeg = encodeJpeg(regionPicture(frame->pixels, region, window));
    const auto captured =
        std::chrono::duration_cast<std::chrono::milliseconds>(frame->captured.time_since_epoch()).count();
    response.set_header("X-N47-Frame", std::to_string(frame->number));
    response.set_header("X-N47-Captured", std::to_string(captured));
    response.set_header("X-N47-Window", std::to_string(window.low) + " " + std::to_string(window.high));
    response.set_header("X-N47-Region", std::to_string(region.x) + " " + std::to_string(region.y) + " " +
                                            std::to_string(region.width) + " " + std::to_string(region.height));
    response.set_content(jpeg, "image/jpeg");
  }

  void routes() {
    server.set_pre_routing_handler([this](const httplib::Request& q, httplib::Response& r) { return screen(q, r); });
    server.set_default_headers({
        {"Cache-Control", "no-store"},
        {"X-Content-Type-Options", "nosniff"},
        {"Content-Security-Policy",
         "default-src 'self'; script-src 'unsafe-inline' 'self'; style-src 'unsafe-inline' 'self'; "
         "img-src 'self' blob:; frame-ancestors 'none'"},
        {"Referrer-Policy", "no-referrer"},
    });
    server.Get("/", [](const httplib::Request&, httplib::Response& r) {
      r.set_content(viewPage(), "text/html; charset=utf-8");
    });
    server.Get("/status", [this](const httplib::Request&, httplib::Response& r) {
      r.set_content(control.statusJson(), "application/json");
    });
    server.Get("/frame.jpg", [this](const httplib::Request& q, httplib::Response& r) { picture(q, r); });
    server.Get("/histogram", [this](const httplib::Request&, httplib::Response& r) {
      const std::shared_ptr<const LiveFrame> frame = slot.newest();
      if (!frame) return refuse(r, 503, "no frame yet");
      r.set_content(histogramJson(*frame), "application/json");
    });
    server.Get("/defects", [this](const httplib::Request&, httplib::Response& r) {
      r.set_content(defects, "application/json");
    });
    const auto flag = [](const httplib::Request& q, const char* name) -> std::optional<bool> {
      const std::string value = q.get_param_value(name);
      if (value == "1") return true;
      if (value == "0") return false;
      return std::nullopt;
    };
    server.Post("/mode", [this, flag](const httplib::Request& q, httplib::Response& r) {
      const auto on = flag(q, "calibration");
      if (!on) return refuse(r, 400, "calibration=1 or calibration=0");
      control.requestCalibrationMode(*on);
      r.set_content(control.statusJson(), "application/json");
    });
    server.Post("/pause", [this, flag](const httplib::Request& q, httplib::Response& r) {
      const auto on = flag(q, "paused");
      if (!on) return refuse(r, 400, "paused=1 or paused=0");
      control.requestPause(*on);
      r.set_content(control.statusJson(), "application/json");
    });
    server.Post("/snapshot", [this](const httplib::Request&, httplib::Response& r) {
      try {
        std::string names;
        for (const std::string& name : control.snapshot()) {
          if (!names.empty()) names += ',';
          names += jsonString(name);
        }
        r.set_content("{\"files\":[" + names + "]}", "application/json");
      } catch (const std::exception& error) {
        r.status = 500;
        r.set_content("{\"error\":" + jsonString(error.what()) + "}", "application/json");
      }
    });
  }
};

ViewServer::ViewServer(const FrameSlot& slot, LiveControl& control, const PixelMap* defects)
    : impl_(std::make_unique<Impl>(slot, control, defects)) {
  impl_->routes();
}

ViewServer::~ViewServer() { stop(); }

int ViewServer::bind(int port) {
  const bool bound = port == 0 ? (port = impl_->server.bind_to_any_port("127.0.0.1")) > 0
                               : impl_->server.bind_to_port("127.0.0.1", port);
  if (!bound) {
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) +
                             " (in use? choose another with --port)");
  }
  impl_->ownHosts.clear();
  impl_->ownOrigins.clear();
  for (const char* name : {"127.0.0.1", "localhost"}) {
    impl_->ownHosts.push_back(std::string(name) + ':' + std::to_string(port));
    impl_->ownOrigins.push_back("http://" + impl_->ownHosts.back());
  }
  return port;
}

void ViewServer::start() {
  impl_->thread = std::thread([this] {
    impl_->server.listen_after_bind();
    impl_->ended = true;
  });
  // The server's stop() ends only a server that already runs: a stop asked for at once (a
  // signal as the view starts) would otherwise be lost, and stop() would wait for ever.
  while (!impl_->server.is_running() && !impl_->ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void ViewServer::stop() {
  if (!impl_->thread.joinable()) return;
  impl_->server.stop();
  impl_->thread.join();
}

}  // namespace n47tool
