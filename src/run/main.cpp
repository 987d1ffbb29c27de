// Program entry: one run in the current directory. The only arguments are
// --help and --version (run/command_line.cpp), or a study run named by the
// first argument (dynap).
#include <memory>
#include <string_view>

#include "run/command_line.h"
#include "run/driver.h"
#include "dynap/study.h"
#include "run/run_folder.h"
#include "run/stop_signals.h"
#include "textio/textio.h"

int main(int argc, char** argv) {
  bbtrack::open_standard_descriptors();
  if (argc >= 2 && std::string_view(argv[1]) == "dynap")
    return bbtrack::dynap_main(argc - 2, argv + 2);
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
