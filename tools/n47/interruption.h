// Ctrl-C, SIGTERM and SIGHUP in the tool. Outside a StopScope a signal ends the program at
// once, after the temporaries of unfinished outputs are removed, with the signal's usual
// status. Inside a StopScope (an acquisition series, a live view) SIGINT and SIGTERM only ask
// the loop to stop after the frame in progress, so the frames taken are kept as a complete
// file; a second signal ends the program at once. SIGXFSZ is ignored, so an output that meets
// the file-size limit fails with EFBIG and is cleaned up like any failed write.
#ifndef N47_TOOLS_INTERRUPTION_H
#define N47_TOOLS_INTERRUPTION_H

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

}  // namespace n47tool

#endif
