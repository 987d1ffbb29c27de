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

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGXCPU, SIGPIPE};

extern "C" void on_stop_signal(int sig) {
  // SIGPIPE comes with every write to a standard stream whose reader has
  // gone: it is noted once and never ends the process by itself.
  if (sig == SIGPIPE) {
    if (received == 0) received = sig;
    return;
  }
  if (received != 0 && received != SIGPIPE) {
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
    case SIGPIPE:
      return "SIGPIPE";
  }
  return "a signal";
}

// The error line, every unit flushed and closed as at a normal end, then
// the exit status of the signal.
[[noreturn]] void stop(textio::Io& io, int sig, const std::string& when, const char* kept) {
  std::string why = std::string("stopped by ") + signal_name(sig) + " (signal " + num(sig);
  if (sig == SIGPIPE) why += ", the reader of standard output has gone";
  error(io, why + ") " + when + "; " + kept);
  io.finish();
  throw textio::Exit{kExitSignal + sig};
}

}  // namespace

void catch_stop_signals() {
  struct sigaction sa {};
  sa.sa_handler = on_stop_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : kStopSignals) ::sigaction(sig, &sa, nullptr);
  // Beyond a file size limit a write then fails with an error the text
  // layer reports (and the file is cut back to a whole record), instead of
  // the process ending without a word.
  ::signal(SIGXFSZ, SIG_IGN);
}

int stop_signal() {
  return received;
}

void stop_if_signalled(textio::Io& io, int turn, int ntrack) {
  const int sig = received;
  if (sig == 0) return;
  stop(io, sig, "after turn " + num(turn) + " of " + num(ntrack),
       "the records written so far are kept, the end-of-run results are not written");
}

void stop_if_signalled_before_tracking(textio::Io& io) {
  const int sig = received;
  if (sig == 0) return;
  stop(io, sig, "during the start-up",
       "nothing was tracked, and the result files of the run option are empty");
}

void stop_if_signalled_after_tracking(textio::Io& io) {
  const int sig = received;
  if (sig == 0) return;
  stop(io, sig, "after the last turn",
       "the records written so far are kept, the end-of-run results are not complete");
}

void stop_if_output_lost(textio::Io& io) {
  io.flush(textio::kStdoutUnit);
  if (received != SIGPIPE) return;
  stop(io, SIGPIPE, "at the end of the run",
       "every result file is complete, standard output is not");
}

}  // namespace bbtrack
