#include "interruption.h"

#include <csignal>
#include <initializer_list>

namespace n47tool {
namespace {

volatile std::sig_atomic_t g_requested = 0;
volatile std::sig_atomic_t g_scopes = 0;

extern "C" void onSignal(int signal) {
  if (g_scopes > 0 && g_requested == 0 && signal != SIGHUP) {
    g_requested = signal;
    return;
  }
  // Ends the program with the signal's own status, as if no handler had been installed.
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

void installInterruptHandlers() {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, onSignal);
  std::signal(SIGXFSZ, SIG_IGN);
}

StopScope::StopScope() {
  g_requested = 0;
  g_scopes = g_scopes + 1;
}

StopScope::~StopScope() { g_scopes = g_scopes - 1; }

int stopSignal() { return g_requested; }

}  // namespace n47tool
