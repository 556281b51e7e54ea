// The tool's outputs among things already in the folder: it used to write OUT.part by name,
// so a user's file there was overwritten and deleted, a link there redirected the output, and
// a FIFO there hung the tool; and an output onto a FIFO or device replaced it. Outputs cut
// short by a signal, a full disk or a size limit left temporaries of hundreds of megabytes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/temp_dir.h"
#include "tool_run.h"

namespace {

namespace fs = std::filesystem;

// The exit status of n47 with `arguments`; -1 when it had to be stopped after 20 s.
int n47Status(const std::string& arguments) {
  const std::string command = "timeout 20 " + std::string(N47_TOOL_PATH) + " " + arguments + " >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 124) return -1;
  return WEXITSTATUS(status);
}

TEST(N47OutputFiles, FilesLinksAndFifosOnTheOldTemporaryNameAreLeftAlone) {
  n47test::TempDir dir;
  const std::vector<std::uint8_t> mine{'m', 'i', 'n', 'e'};
  n47test::writeFileBytes(dir.file("victim"), mine);
  n47test::writeFileBytes(dir.file("a.raw.part"), mine);
  ASSERT_EQ(symlink(dir.file("victim").c_str(), dir.file("b.raw.part").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.file("c.raw.part").c_str(), 0600), 0);
  for (const char* name : {"a.raw", "b.raw", "c.raw"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(n47Status("simulate dark '" + dir.file(name) + "'"), 0);
    EXPECT_EQ(fs::file_size(dir.file(name)), 2048u * 1536u * 2u);
  }
  EXPECT_EQ(n47test::readFileBytes(dir.file("a.raw.part")), mine);
  EXPECT_TRUE(fs::is_symlink(dir.file("b.raw.part")));
  EXPECT_EQ(n47test::readFileBytes(dir.file("victim")), mine);
  EXPECT_TRUE(fs::is_fifo(dir.file("c.raw.part")));
  EXPECT_EQ(dir.names().size(), 7u) << "no temporary was left behind";
}

TEST(N47OutputFiles, AnOutputOntoAFifoIsRefusedAndStaysAFifo) {
  n47test::TempDir dir;
  ASSERT_EQ(mkfifo(dir.file("out.raw").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(dir.file("out.png").c_str(), 0600), 0);
  EXPECT_EQ(n47Status("simulate flat '" + dir.file("out.raw") + "'"), 1);
  n47test::writeFileBytes(dir.file("flat.raw"), std::vector<std::uint8_t>(2048 * 1536 * 2, 7));
  EXPECT_EQ(n47Status("convert '" + dir.file("flat.raw") + "' '" + dir.file("out.png") + "'"), 1);
  EXPECT_TRUE(fs::is_fifo(dir.file("out.raw")));
  EXPECT_TRUE(fs::is_fifo(dir.file("out.png")));
  EXPECT_EQ(dir.names().size(), 3u);
}

TEST(N47OutputFiles, OutputsOfTheLongestLegalNamesAreWritten) {
  n47test::TempDir dir;
  for (const std::size_t length : {250u, 255u}) {
    EXPECT_EQ(n47Status("simulate dark '" + dir.file(std::string(length - 4, 'd') + ".raw") + "'"), 0) << length;
  }
  EXPECT_EQ(dir.names().size(), 2u) << "no temporary was left behind";
}

// A temporary's name in `dir`, or "".
std::string temporaryIn(const n47test::TempDir& dir) {
  for (const std::string& name : dir.names()) {
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) return name;
  }
  return "";
}

// Runs n47 in `dir` with default signal handling (a shell's background job would ignore
// SIGINT) and sends it `signal` while one of its temporaries exists: the program is stopped
// once a temporary shows, and signalled only if the temporary is still there. Its wait status.
int n47SignalledWithATemporary(const n47test::TempDir& dir, std::vector<std::string> arguments, int signal) {
  arguments.insert(arguments.begin(), N47_TOOL_PATH);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    for (int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const int null = open("/dev/null", O_WRONLY);
    if (chdir(dir.path().c_str()) != 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  pid_t ended = 0;
  bool signalled = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!signalled && std::chrono::steady_clock::now() < deadline && (ended = waitpid(child, &status, WNOHANG)) == 0) {
    const std::string name = temporaryIn(dir);
    if (name.empty()) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
      continue;
    }
    kill(child, SIGSTOP);
    waitpid(child, &status, WUNTRACED);
    if (!WIFSTOPPED(status)) return status;  // it ended meanwhile
    signalled = fs::exists(dir.path() / name);
    if (signalled) kill(child, signal);
    kill(child, SIGCONT);
  }
  if (ended == 0) {
    if (!signalled) kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  return status;
}

TEST(N47OutputFiles, ASignalThatEndsTheToolRemovesItsTemporaryAndKeepsTheOldFiles) {
  std::vector<std::string> series;
  for (int i = 0; i < 300; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "s_%03d.raw", i);
    series.push_back(name);
  }
  // Inside an acquisition SIGINT and SIGTERM only stop the series; SIGHUP ends the program.
  const std::tuple<int, std::vector<std::string>, std::vector<std::string>> cases[] = {
      {SIGHUP, {"acquire", "old.tif", "--frames", "200"}, {"old.tif"}},
      {SIGINT, {"simulate", "flat", "s.raw", "--frames", "300"}, series},
      {SIGTERM, {"simulate", "flat", "s.raw", "--frames", "300"}, series},
  };
  const std::vector<std::uint8_t> old{'o', 'l', 'd'};
  for (const auto& [signal, arguments, olds] : cases) {
    SCOPED_TRACE(arguments[0] + " and signal " + std::to_string(signal));
    n47test::TempDir dir;
    for (const std::string& name : olds) n47test::writeFileBytes(dir.file(name), old);
    const int status = n47SignalledWithATemporary(dir, arguments, signal);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "wait status " << status;
    EXPECT_EQ(temporaryIn(dir), "");
    for (const std::string& name : olds) {
      const auto bytes = n47test::readFileBytes(dir.file(name));
      EXPECT_TRUE(bytes == old || bytes.size() == 2048u * 1536u * 2u) << name << " is neither the old file nor a whole new one";
    }
  }
}

// A write the system refuses names the system's reason (a full disk and a read-only place
// are told apart) and leaves the old files and no temporary. The places are made in a private
// mount namespace, where tmpfs can be full or read-only; it vanishes with the shell, so the
// shell reports what the folder holds.
TEST(N47OutputFiles, AFailedWriteNamesTheSystemsReasonAndKeepsTheOldFiles) {
  if (n47tooltest::runShell("unshare -m true 2>&1").status != 0) GTEST_SKIP() << "no private mount namespace here";
  const std::string tool = N47_TOOL_PATH;
  const std::string simulate = tool + " simulate flat d/o.raw";
  const std::tuple<const char*, std::string, const char*> cases[] = {
      {"mount -t tmpfs -o size=1m none d && olds", simulate, "o.raw: cannot be written (No space left on device)"},
      {"mount -t tmpfs -o size=1m none d && olds", tool + " acquire d/o.tif", "o.tif: cannot be written (No space left on device)"},
      {"mount -t tmpfs none d && olds && mount -o remount,ro d", simulate, "o.raw: cannot be written (Read-only file system)"},
      {"olds && chmod 555 d", "setpriv --reuid=65534 --regid=65534 --clear-groups " + simulate,
       "o.raw: cannot be written (Permission denied)"},
      {"olds && ulimit -f 1000", tool + " convert frame.raw d/o.tif", "o.tif: cannot be written (File too large)"},
      {"olds && ulimit -f 1000", tool + " correct frame.raw d/o.png", "o.png: cannot be written (File too large)"},
      {"olds && ulimit -f 1000", tool + " calibrate frame.raw --pixel-map d/p.map --gain-map d/g.map",
       "p.map: the pixel map cannot be saved there (File too large)"},
  };
  n47test::TempDir dir;
  fs::permissions(dir.path(), fs::perms::others_exec, fs::perm_options::add);
  ASSERT_EQ(n47tooltest::n47("simulate phantom " + n47tooltest::quoted(dir.file("frame.raw"))).status, 0);
  for (const auto& [place, command, reason] : cases) {
    SCOPED_TRACE(command);
    const std::string script = "cd \"" + dir.path().string() +
                               "\" && olds() { for f in o.raw o.tif o.png p.map g.map; do echo old >d/$f; done; }"
                               " && rm -rf d && mkdir d && " + place + " && " + command +
                               "; echo \"status $?\"; cat d/* | tr \"\\n\" \" \"; ls -A d | tr \"\\n\" \" \"";
    const n47tooltest::ToolRun run = n47tooltest::runShell("unshare -m sh -c " + n47tooltest::quoted(script) + " 2>&1");
    EXPECT_NE(run.output.find(reason), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("status 1\nold old old old old g.map o.png o.raw o.tif p.map "), std::string::npos)
        << "the old files and no temporary:\n" << run.output;
  }
}

}  // namespace
