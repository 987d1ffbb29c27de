// Program entry: one run in the current directory. The only arguments are
// --help and --version (run/command_line.cpp).
#include <memory>

#include "run/command_line.h"
#include "run/driver.h"
#include "run/run_folder.h"
#include "run/stop_signals.h"
#include "textio/textio.h"

int main(int argc, char** argv) {
  bbtrack::open_standard_descriptors();
  if (const int status = bbtrack::command_line(argc, argv); status >= 0) return status;
  bbtrack::catch_stop_signals();
  auto st = std::make_unique<bbtrack::State>();
  textio::Io io;
  try {
    bbtrack::lock_run_folder(io);
    bbtrack::diff2wirenew(*st, io);
    io.finish();
  } catch (const textio::Exit& e) {
    return e.status;
  }
  return 0;
}
