// The rings of the benchmarks (the bundled example, examples/ring, and the
// rings of bench/rings): their inputs in a private temporary folder, and the
// state of their diffusion run at the first turn.
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
  explicit ExampleDir(const char* ring = "examples/ring") {
    char t[] = "/tmp/bbtrack-bench-XXXXXX";
    path = mkdtemp(t);
    const std::string src = std::string(BBTRACK_SOURCE_DIR) + "/" + ring + "/";
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

// The diffusion run of a ring after the program's start-up; `ring` is the
// input folder relative to the source tree.
inline std::unique_ptr<bbtrack::State> example_state(const char* ring = "examples/ring") {
  ExampleDir dir(ring);
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
