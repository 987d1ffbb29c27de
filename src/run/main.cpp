// Program entry: one run in the current directory, no arguments.
#include <memory>

#include "run/driver.h"
#include "textio/textio.h"

int main() {
  auto st = std::make_unique<bbtrack::State>();
  textio::Io io;
  try {
    bbtrack::diff2wirenew(*st, io);
    io.finish();
  } catch (const textio::Exit& e) {
    return e.status;
  }
  return 0;
}
