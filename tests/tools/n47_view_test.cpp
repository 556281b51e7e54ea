// The live view: the frame slot and the pictures it serves, the status endpoint, the guard against
// foreign hosts and origins, snapshots, a clean stop, and the page at work in headless Chromium.
#include <gtest/gtest.h>
#include <httplib.h>

#include <csignal>
#include <random>
#include <regex>
#include <thread>

#include "live_processes.h"
#include "nexus_writer.h"
#include "support/temp_dir.h"
#include "tool_run.h"
#include "view/frame_picture.h"
#include "view/frame_slot.h"

namespace {

using n47tool::Frame;
using n47tool::kPixels;
using n47tool::LiveFrame;

std::shared_ptr<const LiveFrame> numbered(long number, Frame pixels = Frame(kPixels, 100)) {
  auto frame = std::make_shared<LiveFrame>();
  frame->number = number;
  frame->pixels = std::move(pixels);
  return frame;
}

TEST(FrameSlot, AReaderGetsTheNewestFrameNeverABacklog) {
  n47tool::FrameSlot slot;
  EXPECT_EQ(slot.newerThan(0, std::chrono::milliseconds(1)), nullptr);
  for (long n = 1; n <= 3; ++n) slot.publish(numbered(n));
  EXPECT_EQ(slot.newerThan(0, std::chrono::milliseconds(1))->number, 3);
  EXPECT_EQ(slot.newerThan(3, std::chrono::milliseconds(1))->number, 3) << "after the wait, what there is";
  std::thread later([&] { slot.publish(numbered(4)); });
  EXPECT_EQ(slot.newerThan(3, std::chrono::seconds(10))->number, 4);
  later.join();
}

TEST(FrameSlot, TheAutomaticWindowIsTheReportsPercentileRule) {
  std::mt19937 random(5);
  for (const int spread : {1, 40, 16383}) {
    Frame pixels(kPixels);
    for (auto& v : pixels) v = static_cast<std::uint16_t>(2000 + random() % spread);
    pixels[0] = 65535;  // the border is left out
    const n47tool::Window expected = n47tool::autoWindow(pixels);
    const n47tool::Window window = numbered(1, pixels)->automaticWindow();
    EXPECT_EQ(window.low, expected.low) << "spread " << spread;
    EXPECT_EQ(window.high, expected.high) << "spread " << spread;
  }
}

TEST(FramePicture, TheWholeFrameIsTheReportsPictureAndBinsAreMeans) {
  std::mt19937 random(9);
  Frame pixels(kPixels);
  for (auto& v : pixels) v = static_cast<std::uint16_t>(random() % 16384);
  const n47tool::Window window{1000, 9000};
  EXPECT_EQ(n47tool::regionPicture(pixels, n47tool::clampRegion({}), window).bytes, n47tool::toGrey(pixels, window).bytes);
  const auto binned = n47tool::regionPicture(pixels, n47tool::clampRegion({2, 4, 4, 2, 2}), {0, 255});
  ASSERT_EQ(binned.width, 2);
  EXPECT_EQ(binned.bytes[1], std::min(255, (pixels[4 * 2048 + 4] + pixels[4 * 2048 + 5] + pixels[5 * 2048 + 4] +
                                             pixels[5 * 2048 + 5]) / 4));
  const n47tool::FrameRegion outside = n47tool::clampRegion({4000, -20, 5000, 300, 99});
  EXPECT_EQ(std::vector<int>({outside.x, outside.y, outside.width, outside.height, outside.binning}),
            std::vector<int>({0, 0, 2048, 300, 8}));
}

std::string statusOf(int port) {
  const auto reply = httplib::Client("127.0.0.1", port).Get("/status");
  return reply ? reply->body : "";
}

long numberIn(const std::string& json, const std::string& name) {
  std::smatch match;
  const std::regex pattern("\"" + name + "\":([-0-9.]+)");
  return std::regex_search(json, match, pattern) ? std::lround(std::stod(match[1])) : -1;
}

// The status once the view has captured `frames` (a loaded machine may take a while).
std::string statusAfter(int port, long frames) {
  std::string status = statusOf(port);
  for (int i = 0; i < 300 && numberIn(status, "frames") < frames; ++i, status = statusOf(port)) usleep(100000);
  return status;
}

class LiveView : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new n47test::TempDir;
    view = new n47tooltest::ViewProcess({"--out", dir->file("")});
    ASSERT_GT(view->port(), 0) << view->output();
  }
  static void TearDownTestSuite() {
    delete view;
    delete dir;
  }
  static httplib::Client client() { return httplib::Client("127.0.0.1", view->port()); }
  static std::string status() { return statusOf(view->port()); }
  static inline n47test::TempDir* dir = nullptr;
  static inline n47tooltest::ViewProcess* view = nullptr;
};

TEST_F(LiveView, StatusCountsTheFramesAndReportsTheRate) {
  const std::string before = statusAfter(view->port(), 3);
  usleep(1000000);
  const std::string after = status();
  EXPECT_GT(numberIn(after, "frames"), numberIn(before, "frames")) << after;
  EXPECT_GE(numberIn(after, "fps"), 1) << after;
  EXPECT_NE(after.find("\"connected\":true"), std::string::npos) << after;
  EXPECT_NE(after.find("\"calibration_mode\":false"), std::string::npos) << after;
  EXPECT_GT(numberIn(after, "temperature"), 15) << after;
}

TEST_F(LiveView, RefusesForeignHostsAndForeignOrigins) {
  const std::string port = std::to_string(view->port());
  struct Case {
    const char* method;
    std::string host, origin;
    int status;
  };
  const Case cases[] = {
      {"GET", "127.0.0.1:" + port, "", 200},
      {"GET", "localhost:" + port, "", 200},
      {"GET", "evil.example:" + port, "", 403},
      {"GET", "127.0.0.1.evil.example:" + port, "", 403},
      {"GET", "127.0.0.1:1" + port, "", 403},
      {"POST", "127.0.0.1:" + port, "http://127.0.0.1:" + port, 200},
      {"POST", "127.0.0.1:" + port, "http://evil.example:" + port, 403},
      {"POST", "127.0.0.1:" + port, "null", 403},
  };
  for (const Case& c : cases) {
    httplib::Headers headers = {{"Host", c.host}};
    if (!c.origin.empty()) headers.emplace("Origin", c.origin);
    const auto reply = std::string(c.method) == "GET" ? client().Get("/status", headers)
                                                      : client().Post("/pause?paused=0", headers, "", "text/plain");
    ASSERT_TRUE(reply) << c.host;
    EXPECT_EQ(reply->status, c.status) << c.method << " Host " << c.host << " Origin " << c.origin;
  }
}

TEST_F(LiveView, OddPictureRequestsAreClampedOrRefused) {
  statusAfter(view->port(), 1);
  const std::pair<const char*, int> cases[] = {
      {"/frame.jpg?after=-1&low=1e300&high=-5&x=-1e9&width=1e300&binning=1e9", 200},
      {"/frame.jpg?after=1e300&binning=-3", 200},  // the newest frame, after the wait
      {"/frame.jpg?after=abc", 400},
      {"/frame.jpg?low=nan&high=5", 400},
      {"/../../etc/passwd", 404},
  };
  for (const auto& [path, status] : cases) {
    const auto reply = client().Get(path);
    ASSERT_TRUE(reply) << path;
    EXPECT_EQ(reply->status, status) << path;
  }
}

TEST_F(LiveView, SnapshotsAreFullFramesInTheOutputFolderUnderNewNames) {
  statusAfter(view->port(), 1);
  std::vector<std::string> names;
  for (int i = 0; i < 2; ++i) {
    const auto reply = client().Post("/snapshot", "", "text/plain");
    ASSERT_TRUE(reply && reply->status == 200) << (reply ? reply->body : "no answer");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(reply->body, match, std::regex(R"re("(n47_\d{8}-\d{6}_frame\d{6}(_\d+)?\.tif)")re")))
        << reply->body;
    names.push_back(match[1]);
    std::string description;
    const n47tool::Frame frame = n47tool::readFrame(dir->file(names.back()), &description);
    EXPECT_EQ(frame.size(), kPixels);
    EXPECT_NE(description.find("live view"), std::string::npos) << description;
    const std::string nexus = names.back().substr(0, names.back().size() - 4) + ".h5";
    EXPECT_NE(reply->body.find(nexus), std::string::npos) << reply->body;
    EXPECT_TRUE(n47tool::readNexusFrame(dir->file(nexus)) == frame) << "the NeXus snapshot holds the TIFF's frame";
  }
  EXPECT_NE(names[0], names[1]);
}

TEST(LiveViewStop, SigtermStopsTheViewAndFreesTheDetector) {
  n47test::TempDir dir;
  n47tooltest::ViewProcess view({"--out", dir.file("")});
  ASSERT_GT(view.port(), 0) << view.output();
  EXPECT_EQ(view.stop(SIGTERM), 128 + SIGTERM);
  EXPECT_NE(view.output().find("stopped after"), std::string::npos) << view.output();
}

TEST(LiveViewOnTheTestGrabber, ServesTheGrabbersFrames) {
  n47test::TempDir dir;
  n47tooltest::ViewProcess view({"--grabber", N47_TEST_GRABBER_PATH, "--out", dir.file("")});
  ASSERT_GT(view.port(), 0) << view.output();
  const std::string status = statusAfter(view.port(), 2);
  EXPECT_NE(status.find("\"connected\":true"), std::string::npos) << status;
  const auto picture = httplib::Client("127.0.0.1", view.port()).Get("/frame.jpg?binning=4");
  ASSERT_TRUE(picture) << view.output();
  EXPECT_EQ(picture->status, 200);
  EXPECT_EQ(picture->get_header_value("Content-Type"), "image/jpeg");
  EXPECT_EQ(view.stop(SIGINT), 128 + SIGINT);
}

// One browser for the suite, on a page served by one view. The host rule lets a foreign name
// resolve to the loopback address, as DNS rebinding would.
class LiveViewInChromium : public LiveView {
 protected:
  static void SetUpTestSuite() {
    if (!n47tooltest::chromiumInstalled()) return;
    LiveView::SetUpTestSuite();
    browser = new n47tooltest::Chromium(dir->file("profile"), "MAP rebind.test 127.0.0.1");
  }
  static void TearDownTestSuite() {
    delete browser;
    browser = nullptr;
    LiveView::TearDownTestSuite();
  }
  void SetUp() override {
    if (browser == nullptr) GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh browser)";
    browser->navigate(view->url());
    ASSERT_TRUE(browser->waitFor("+document.getElementById('shown').textContent > 1", 60));
  }
  static std::string text(const std::string& id) {
    return browser->evaluate("document.getElementById('" + id + "').textContent");
  }
  static double meanGrey() {
    return std::stod(browser->evaluate(
        "(() => { const c = document.getElementById('view'); const d = c.getContext('2d').getImageData(0, 0, c.width, "
        "c.height).data; let s = 0; for (let i = 0; i < d.length; i += 4) s += d[i]; return String(s / (d.length / 4)); })()"));
  }
  static inline n47tooltest::Chromium* browser = nullptr;
};

TEST_F(LiveViewInChromium, ThePictureChangesAndTheCountersAdvance) {
  const std::string first = browser->screenshot("view");
  const long shown = std::stol(text("shown")), frames = std::stol(text("frames"));
  ASSERT_TRUE(browser->waitFor("+document.getElementById('shown').textContent > " + std::to_string(shown + 1), 30));
  EXPECT_NE(browser->screenshot("view"), first) << "a later frame, other noise";
  ASSERT_TRUE(browser->waitFor("+document.getElementById('frames').textContent > " + std::to_string(frames), 10));
  EXPECT_GT(std::stod(text("fps")), 0.0);
  if (const char* path = std::getenv("N47_VIEW_SCREENSHOT")) {  // for a person: with the zoom open
    browser->evaluate("(() => { const v = document.getElementById('view'), b = v.getBoundingClientRect(); "
                      "v.dispatchEvent(new MouseEvent('click', {clientX: b.x + b.width * 0.62, clientY: b.y + b.height * "
                      "0.5})); return ''; })()");
    browser->waitFor("+document.getElementById('frames').textContent > 100", 30);  // the rates settled
    browser->saveScreenshot(path);
  }
}

TEST_F(LiveViewInChromium, TheRawSwitchTogglesCalibrationMode) {
  for (const bool raw : {true, false}) {
    browser->evaluate("document.getElementById('raw').click(), ''");
    EXPECT_TRUE(browser->waitFor(std::string("document.getElementById('mode').textContent.startsWith('") +
                                     (raw ? "raw" : "corrected") + "')",
                                 10));
    EXPECT_NE(status().find(std::string("\"calibration_mode\":") + (raw ? "true" : "false")), std::string::npos);
  }
}

TEST_F(LiveViewInChromium, TheWindowControlsSetBlackAndWhite) {
  const auto setWindow = [](int low, int high) {
    browser->evaluate("(() => { for (const [id, v] of [['low', " + std::to_string(low) + "], ['high', " +
                      std::to_string(high) + "]]) { const e = document.getElementById(id); e.value = v; "
                      "e.dispatchEvent(new Event('change')); } return ''; })()");
    const long shown = std::stol(text("shown"));
    browser->waitFor("+document.getElementById('shown').textContent > " + std::to_string(shown + 1), 10);
  };
  setWindow(16000, 16383);
  EXPECT_LT(meanGrey(), 15.0) << "every level below the window shows black";
  EXPECT_EQ(browser->evaluate("String(document.getElementById('auto').checked)"), "false");
  setWindow(0, 50);
  EXPECT_GT(meanGrey(), 220.0) << "every level above the window shows white";
  browser->evaluate("document.getElementById('auto').click(), ''");
  const long shown = std::stol(text("shown"));
  browser->waitFor("+document.getElementById('shown').textContent > " + std::to_string(shown + 1), 10);
  const double automatic = meanGrey();
  EXPECT_GT(automatic, 20.0);
  EXPECT_LT(automatic, 235.0);
}

TEST_F(LiveViewInChromium, APageUnderAForeignNameIsRefused) {
  browser->navigate(view->url("rebind.test"));
  EXPECT_NE(browser->evaluate("document.body.innerText").find("refused"), std::string::npos);
  EXPECT_EQ(browser->evaluate("String(document.getElementById('view'))"), "null");
}

}  // namespace
