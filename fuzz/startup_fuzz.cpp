// The start-up of a run from fuzzed input files: "diff.input",
// "Matrices.dat", "Sigmas.dat", "excluded.dat" and "multdist.dat" are the
// pieces of the input between 0x1E bytes, in this order (a file without a
// piece is missing). The program's start-up runs in a scratch folder; when it
// gets through and the run is short, the whole program runs as well.
//
// A textio::Exit is a normal end (error exit, stop, library failure).
// Anything else is a finding: a crash, a sanitizer report, a hang, an
// exception escaping, or an error exit without its three-line message.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz_util.h"
#include "run/driver.h"
#include "run/state.h"
#include "textio/textio.h"

namespace {

constexpr const char* kFiles[] = {"diff.input", "Matrices.dat", "Sigmas.dat", "excluded.dat",
                                  "multdist.dat"};
// Whole runs only when they are short: a few turns, and not option 1,
// which always tracks 500 turns.
constexpr std::int32_t kMaxTurns = 3;

// The three lines of a fatal message (or the four of a host error), when
// the run ended with status 1.
void check_message(const std::string& err) {
  std::size_t at = err.find("RTFIO");
  fuzz::check(at != std::string::npos, "error exit without a message");
  std::string_view msg = std::string_view(err).substr(at);
  fuzz::check(msg.rfind("RTFIO-F-", 0) == 0 || msg.rfind("RTFIO/stdio: ", 0) == 0,
              "message form");
  fuzz::check(msg.find(" In source file ") != std::string_view::npos, "source line");
  fuzz::check(!msg.empty() && msg.back() == '\n', "message ends with a line end");
}

// Runs f with a fresh Io; returns the exit status (0 when f returns).
template <class F>
int with_io(const fuzz::Scratch& dir, fuzz::MemFile& err, int null_fd, F f) {
  textio::Options o;
  o.stdout_fd = null_fd;
  o.stderr_fd = err.fd();
  o.dir = dir.path();
  o.getenv = [](const char*) -> const char* { return nullptr; };
  int status = 0;
  {
    textio::Io io(o);
    try {
      f(io);
      io.finish();
    } catch (const textio::Exit& e) {
      status = e.status;
    }
  }
  const std::string msg = err.take();
  if (status == 1) check_message(msg);
  return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::Scratch dir;  // one scratch folder per process
  static fuzz::MemFile err;
  static const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);

  dir.clear();
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  std::size_t at = 0;
  for (const char* name : kFiles) {
    if (at > all.size()) break;
    std::size_t end = all.find('\x1e', at);
    if (end == std::string_view::npos) end = all.size();
    dir.put(name, all.substr(at, end - at));
    at = end + 1;
  }

  auto st = std::make_unique<bbtrack::State>();
  const int status =
      with_io(dir, err, null_fd, [&](textio::Io& io) { bbtrack::start_up(*st, io); });
  if (status != 0) return 0;

  const std::int32_t iopt = st->readin1.iopt;
  if (iopt == 1 || st->readin1.ntrack > kMaxTurns) return 0;
  auto run = std::make_unique<bbtrack::State>();
  with_io(dir, err, null_fd, [&](textio::Io& io) { bbtrack::diff2wirenew(*run, io); });
  return 0;
}
