#include "interruption.h"

#include <unistd.h>

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <initializer_list>
#include <stdexcept>

namespace n47tool {
namespace {

volatile std::sig_atomic_t g_requested = 0;
volatile std::sig_atomic_t g_scopes = 0;

// The temporaries to remove, in fixed storage the handler can read without allocating: a
// place is free, taken, or holds a path.
constexpr int kTemporaries = 8;
enum : int { kFree, kTaken, kListed };
std::atomic<int> g_state[kTemporaries];
char g_path[kTemporaries][PATH_MAX];
static_assert(std::atomic<int>::is_always_lock_free, "the handler reads the places' states");

void removeListedTemporaries() {
  for (int i = 0; i < kTemporaries; ++i) {
    if (g_state[i].load() == kListed) ::unlink(g_path[i]);
  }
}

extern "C" void onSignal(int signal) {
  if (g_scopes > 0 && g_requested == 0 && signal != SIGHUP) {
    g_requested = signal;
    return;
  }
  removeListedTemporaries();
  // Ends the program with the signal's own status, as if no handler had been installed.
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void interruptSignals(sigset_t& set) {
  sigemptyset(&set);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, signal);
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

RemovedOnInterrupt::RemovedOnInterrupt() {
  for (int i = 0; i < kTemporaries && slot_ < 0; ++i) {
    int free = kFree;
    if (g_state[i].compare_exchange_strong(free, kTaken)) slot_ = i;
  }
  if (slot_ < 0) throw std::length_error("too many outputs open at once");
}

void RemovedOnInterrupt::list(const char* path) {
  // The system creates no file under a path as long as PATH_MAX, so there is none to remove.
  if (path == nullptr || std::strlen(path) >= PATH_MAX) return;
  std::memcpy(g_path[slot_], path, std::strlen(path) + 1);
  g_state[slot_].store(kListed);
}

RemovedOnInterrupt::~RemovedOnInterrupt() {
  if (slot_ >= 0) g_state[slot_].store(kFree);
}

HeldInterrupts::HeldInterrupts() {
  sigset_t set;
  interruptSignals(set);
  held_ = ::sigprocmask(SIG_BLOCK, &set, &previous_) == 0;
}

void HeldInterrupts::release() {
  if (held_) ::sigprocmask(SIG_SETMASK, &previous_, nullptr);
  held_ = false;
}

}  // namespace n47tool
