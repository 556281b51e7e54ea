// Ctrl-C, SIGTERM and SIGHUP in the tool. Outside a StopScope a signal ends the program at
// once, after the temporaries of unfinished outputs are removed, with the signal's usual
// status. Inside a StopScope (an acquisition series, a live view) SIGINT and SIGTERM only ask
// the loop to stop after the frame in progress, so the frames taken are kept as a complete
// file; a second signal ends the program at once. SIGXFSZ is ignored, so an output that meets
// the file-size limit fails with EFBIG and is cleaned up like any failed write.
#ifndef N47_TOOLS_INTERRUPTION_H
#define N47_TOOLS_INTERRUPTION_H

#include <signal.h>

namespace n47tool {

// Once, before any output is opened.
void installInterruptHandlers();

// While one lives, SIGINT and SIGTERM set the stop request instead of ending the program.
class StopScope {
 public:
  StopScope();
  ~StopScope();
  StopScope(const StopScope&) = delete;
  StopScope& operator=(const StopScope&) = delete;
};

// The signal that asked the current StopScope to stop, or 0.
int stopSignal();
inline bool stopRequested() { return stopSignal() != 0; }
// The exit status of a program stopped by `signal`: 128 + its number (130 for SIGINT).
inline int stoppedExitStatus(int signal) { return 128 + signal; }

// A place for the path of a temporary file that a signal ending the program removes. Made
// before the file and destroyed after it: a path listed a moment too long names nothing, one
// listed too late would be left behind. Throws std::length_error when every place is taken.
class RemovedOnInterrupt {
 public:
  RemovedOnInterrupt();
  ~RemovedOnInterrupt();
  RemovedOnInterrupt(const RemovedOnInterrupt&) = delete;
  RemovedOnInterrupt& operator=(const RemovedOnInterrupt&) = delete;
  // Call with the signals held (HeldInterrupts) from before the file is created. Null lists nothing.
  void list(const char* path);

 private:
  int slot_ = -1;
};

// SIGINT, SIGTERM and SIGHUP wait while one lives (or until release()) and arrive after it:
// for steps whose files no handler could name, such as the library's own map saves.
class HeldInterrupts {
 public:
  HeldInterrupts();
  ~HeldInterrupts() { release(); }
  HeldInterrupts(const HeldInterrupts&) = delete;
  HeldInterrupts& operator=(const HeldInterrupts&) = delete;
  void release();

 private:
  sigset_t previous_;
  bool held_ = false;
};

}  // namespace n47tool

#endif
