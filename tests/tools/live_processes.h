// The programs a live-view test runs beside itself: `n47 view` serving on a free port, and a
// headless Chromium driven over its DevTools pipe (JSON messages ended by a NUL byte on file
// descriptors 3 and 4), so the test acts on the page as a person would, in a real browser.
#ifndef N47_TESTS_TOOLS_LIVE_PROCESSES_H
#define N47_TESTS_TOOLS_LIVE_PROCESSES_H

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace n47tooltest {

// Starts `argv` with fd 0 on /dev/null and the given descriptors moved onto 1, 3, 4 (-1: kept).
inline pid_t spawn(const std::vector<std::string>& argv, int out, int three = -1, int four = -1) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int null = open("/dev/null", O_RDWR);
  dup2(null, 0);
  if (three >= 0) dup2(three, 3);
  if (four >= 0) dup2(four, 4);
  dup2(out >= 0 ? out : null, 1);
  dup2(null, 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

// Reads from `fd` until `done(text)` holds or `seconds` pass; returns what was read.
template <typename Done>
std::string readUntil(int fd, std::string& buffer, double seconds, Done done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  char chunk[65536];
  while (!done(buffer)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got <= 0) break;
    buffer.append(chunk, static_cast<std::size_t>(got));
  }
  return buffer;
}

// `n47 view --port 0 ...`: the port it chose, and its exit status and output once stopped.
class ViewProcess {
 public:
  explicit ViewProcess(const std::vector<std::string>& options) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) throw std::runtime_error("pipe");
    std::vector<std::string> argv = {N47_TOOL_PATH, "view", "--port", "0"};
    argv.insert(argv.end(), options.begin(), options.end());
    pid_ = spawn(argv, pipeFds[1]);
    close(pipeFds[1]);
    out_ = pipeFds[0];
    const std::string key = "http://127.0.0.1:";
    readUntil(out_, output_, 30, [&](const std::string& text) { return text.find('\n') != std::string::npos; });
    const std::size_t at = output_.find(key);
    if (at != std::string::npos) port_ = std::atoi(output_.c_str() + at + key.size());
  }
  ~ViewProcess() {
    if (pid_ > 0) stop(SIGKILL);
    close(out_);
  }
  int port() const { return port_; }
  std::string url(const std::string& host = "127.0.0.1") const {
    return "http://" + host + ":" + std::to_string(port_) + "/";
  }
  // Sends `signal` and waits; the exit status, or 128 + the signal that ended it. A view that
  // has not ended after 30 seconds is killed: -1.
  int stop(int signal) {
    kill(pid_, signal);
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 300 && (ended = waitpid(pid_, &status, WNOHANG)) == 0; ++i) usleep(100000);
    if (ended == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
      return -1;
    }
    pid_ = -1;
    readUntil(out_, output_, 5, [](const std::string&) { return false; });
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  const std::string& output() const { return output_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int port_ = 0;
  std::string output_;
};

inline bool chromiumInstalled() {
  if (std::system("command -v chromium >/dev/null") == 0) return true;
  if (std::getenv("N47_REQUIRE_CHROMIUM") != nullptr) ADD_FAILURE() << "chromium is not installed";
  return false;
}

class Chromium {
 public:
  // `profile`: an empty folder for the browser's state; `hostRules`: --host-resolver-rules.
  Chromium(const std::string& profile, const std::string& hostRules) {
    int toBrowser[2], fromBrowser[2];
    if (pipe(toBrowser) != 0 || pipe(fromBrowser) != 0) throw std::runtime_error("pipe");
    // As root Chromium runs only without its sandbox.
    pid_ = spawn({"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                  "--remote-debugging-pipe", "--window-size=1400,1000", "--user-data-dir=" + profile,
                  "--host-resolver-rules=" + hostRules, "about:blank"},
                 -1, toBrowser[0], fromBrowser[1]);
    close(toBrowser[0]);
    close(fromBrowser[1]);
    in_ = toBrowser[1];
    out_ = fromBrowser[0];
    const std::string target = field(call("Target.createTarget", R"({"url":"about:blank"})"), "targetId");
    session_ = field(call("Target.attachToTarget", R"({"targetId":")" + target + R"(","flatten":true})"), "sessionId");
  }
  ~Chromium() {
    if (pid_ <= 0) return;
    send(R"({"id":0,"method":"Browser.close"})");
    for (int i = 0; i < 50 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) usleep(100000);
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    close(in_);
    close(out_);
  }

  // The whole answer to one DevTools command, in the page's session unless `browserWide`.
  std::string call(const std::string& method, const std::string& params, bool browserWide = false) {
    const std::string id = std::to_string(++lastId_);
    send(R"({"id":)" + id + R"(,"method":")" + method + R"(","params":)" + params +
         (browserWide || session_.empty() ? "" : R"(,"sessionId":")" + session_ + "\"") + "}");
    const std::string start = R"({"id":)" + id + ",";
    for (;;) {
      std::size_t end;
      readUntil(out_, buffer_, 60, [&](const std::string& text) { return (end = text.find('\0')) != std::string::npos; });
      if (end == std::string::npos) throw std::runtime_error("chromium did not answer " + method);
      std::string message = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
      if (message.compare(0, start.size(), start) == 0) return message;
    }
  }
  // A JavaScript expression's value (awaited) as a string; the expression should give a string
  // or a number.
  std::string evaluate(const std::string& expression) {
    std::string quoted = "\"";
    for (const char c : expression) quoted += (c == '"' || c == '\\') ? std::string("\\") + c : std::string(1, c);
    return field(call("Runtime.evaluate", R"({"expression":)" + quoted + R"(","awaitPromise":true,"returnByValue":true})"),
                 "value");
  }
  // Waits until the expression is true in the page; false when `seconds` pass first.
  bool waitFor(const std::string& condition, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
      if (evaluate("String(!!(" + condition + "))") == "true") return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }
  void navigate(const std::string& url) {
    call("Page.navigate", R"({"url":")" + url + "\"}");
    waitFor("document.readyState === 'complete'", 30);
  }
  // A PNG (base64) of the element with this id as it is on the screen.
  std::string screenshot(const std::string& id) {
    const std::string box = evaluate("(() => { const b = document.getElementById('" + id +
                                     "').getBoundingClientRect(); return `${b.x},${b.y},${b.width},${b.height}`; })()");
    double x = 0, y = 0, w = 0, h = 0;
    std::sscanf(box.c_str(), "%lf,%lf,%lf,%lf", &x, &y, &w, &h);
    return field(call("Page.captureScreenshot", R"({"format":"png","clip":{"x":)" + std::to_string(x) + R"(,"y":)" +
                                                  std::to_string(y) + R"(,"width":)" + std::to_string(w) +
                                                  R"(,"height":)" + std::to_string(h) + R"(,"scale":1}})"),
                 "data");
  }
  void saveScreenshot(const std::string& path) {
    const std::string data = field(call("Page.captureScreenshot", R"({"format":"png"})"), "data");
    const std::string command = "base64 -d > '" + path + "'";
    std::FILE* pipe = popen(command.c_str(), "w");
    std::fwrite(data.data(), 1, data.size(), pipe);
    pclose(pipe);
  }

 private:
  void send(const std::string& message) {
    const std::string bytes = message + '\0';
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t wrote = write(in_, bytes.data() + done, bytes.size() - done);
      if (wrote <= 0) throw std::runtime_error("chromium stopped reading");
      done += static_cast<std::size_t>(wrote);
    }
  }
  // The first string or number named `name` in a message (escapes of quotes and backslashes undone).
  static std::string field(const std::string& message, const std::string& name) {
    const std::string key = "\"" + name + "\":";
    const std::size_t at = message.find(key);
    if (at == std::string::npos) throw std::runtime_error("no " + name + " in " + message.substr(0, 300));
    std::size_t i = at + key.size();
    std::string value;
    if (message[i] != '"') {
      while (i < message.size() && message[i] != ',' && message[i] != '}') value += message[i++];
      return value;
    }
    for (++i; i < message.size() && message[i] != '"'; ++i) value += message[i] == '\\' ? message[++i] : message[i];
    return value;
  }

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
  int lastId_ = 0;
  std::string session_, buffer_;
};

}  // namespace n47tooltest

#endif
