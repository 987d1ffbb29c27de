#include "run/stop_signals.h"

#include <signal.h>

#include <csignal>
#include <string>

#include "run/command_line.h"
#include "run/messages.h"

namespace bbtrack {
namespace {

// The one process-wide state of the program: written only by the handler.
volatile std::sig_atomic_t received = 0;

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGXCPU};

extern "C" void on_stop_signal(int sig) {
  if (received != 0) {
    // Second signal: the default action (end of the process), at once.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
    return;
  }
  received = sig;
}

const char* signal_name(int sig) {
  switch (sig) {
    case SIGTERM:
      return "SIGTERM";
    case SIGINT:
      return "SIGINT";
    case SIGHUP:
      return "SIGHUP";
    case SIGXCPU:
      return "SIGXCPU";
  }
  return "a signal";
}

}  // namespace

void catch_stop_signals() {
  struct sigaction sa {};
  sa.sa_handler = on_stop_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : kStopSignals) ::sigaction(sig, &sa, nullptr);
}

int stop_signal() {
  return received;
}

void stop_if_signalled(textio::Io& io, int turn, int ntrack) {
  const int sig = received;
  if (sig == 0) return;
  error(io, std::string("stopped by ") + signal_name(sig) + " (signal " + num(sig) +
                ") after turn " + num(turn) + " of " + num(ntrack) +
                "; the records written so far are kept, the end-of-run results are not written");
  io.finish();
  throw textio::Exit{kExitSignal + sig};
}

}  // namespace bbtrack
