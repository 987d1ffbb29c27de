// The bundled example ring for the benchmarks: its inputs in a private
// temporary folder, and the state of its diffusion run at the first turn.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "run/driver.h"

namespace bench {

struct ExampleDir {
  std::string path;
  ExampleDir() {
    char t[] = "/tmp/bbtrack-bench-XXXXXX";
    path = mkdtemp(t);
    const std::string src = std::string(BBTRACK_SOURCE_DIR) + "/examples/ring/";
    for (const char* f : {"diff.input", "Matrices.dat", "Sigmas.dat", "excluded.dat", "multdist.dat"}) {
      std::ifstream in(src + f, std::ios::binary);
      std::ofstream out(path + "/" + f, std::ios::binary);
      out << in.rdbuf();
    }
  }
  ~ExampleDir() { [[maybe_unused]] int rc = std::system(("rm -rf " + path).c_str()); }
  ExampleDir(const ExampleDir&) = delete;
  ExampleDir& operator=(const ExampleDir&) = delete;
};

// An Io working in a folder, its standard streams thrown away.
inline textio::Options quiet(const std::string& dir, int null_fd) {
  textio::Options o;
  o.dir = dir;
  o.stdout_fd = null_fd;
  o.stderr_fd = null_fd;
  return o;
}

// The example's diffusion run after the program's start-up.
inline std::unique_ptr<bbtrack::State> example_state() {
  ExampleDir dir;
  const int null_fd = ::open("/dev/null", O_WRONLY);
  auto st = std::make_unique<bbtrack::State>();
  {
    textio::Io io(quiet(dir.path, null_fd));
    bbtrack::start_up(*st, io);
  }
  ::close(null_fd);
  return st;
}

}  // namespace bench
