#include "run/footprint.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "run/diagnostics.h"

namespace bbtrack {
namespace {

struct Dir {
  std::string path;
  Dir() {
    char t[] = "/tmp/bbtrack-fp-XXXXXX";
    path = mkdtemp(t);
  }
  ~Dir() { [[maybe_unused]] int rc = std::system(("rm -rf " + path).c_str()); }
  std::string read(const std::string& name) const {
    std::ifstream f(path + "/" + name);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
};

std::unique_ptr<State> footprint_state(int ntrack) {
  auto st = std::make_unique<State>();
  st->readin1.ntrack = ntrack;
  st->tbt.size_for(ntrack);
  st->twiss = {0.0, 0.0, 4.0, 9.0};
  st->bb.emit = 1e-9;
  return st;
}

// The record of one grid point from "footprint.dat" (iamp fastest).
std::string record(const std::string& file, int iang, int iamp) {
  std::istringstream in(file);
  std::string line;
  for (int n = 0; n <= iang * 14 + iamp; ++n) std::getline(in, line);
  return line;
}

TEST(FootprintAnalysis, PeakFoldingAndEmptyPoints) {
  auto st = footprint_state(1000);
  const double pi = 4.0 * std::atan(1.0);
  auto& t = st->tbt;
  for (int n = 1; n <= 1000; ++n) {
    t.tbtx[t.at(0, 0, n)] = static_cast<float>(std::cos(2 * pi * 0.3 * n));
    t.tbty[t.at(0, 0, n)] = static_cast<float>(std::cos(2 * pi * 0.7 * n));
    t.tbtx[t.at(0, 1, n)] = 50.0f + static_cast<float>(std::sin(2 * pi * 0.25 * n));
    // A peak at harmonic 100 found as its imaginary part at index 900.
    t.tbty[t.at(0, 1, n)] = static_cast<float>(std::sin(2 * pi * 0.1 * n));
    t.tbtx[t.at(3, 5, n)] = static_cast<float>(std::cos(2 * pi * 0.4 * n));
  }
  Dir d;
  std::FILE* out = std::tmpfile();
  {
    textio::Options o;
    o.dir = d.path;
    o.stdout_fd = fileno(out);
    textio::Io io(o);
    io.open(24, "footprint.dat");
    footprint_analysis(*st, io);
  }
  std::fclose(out);
  const std::string fp = d.read("footprint.dat");
  EXPECT_EQ(std::count(fp.begin(), fp.end(), '\n'), 196);
  EXPECT_EQ(record(fp, 0, 0), "     0     0 0.7000E+00 0.7000E+00");
  EXPECT_EQ(record(fp, 0, 1), "     0     1 0.1000E+01 0.9000E+00");
  // x has data, y none: only y has no tune.
  EXPECT_EQ(record(fp, 3, 5), "     3     5 0.6000E+00        nan");
  EXPECT_EQ(record(fp, 13, 13), "    13    13        nan        nan");
}

TEST(FootprintStore, OnlyGridSlotsWriteAndIndicesFollowLosses) {
  auto st = footprint_state(4);
  st->np.npart = 3;
  auto& c = st->coord.coord;
  // Slot 1: grid point (2, 0); slot 2: no grid point; slot 3: point (5, 7).
  st->fp.fpidx(1, 1) = 2;
  st->fp.owner(1) = 1;
  st->fp.fpidx(3, 1) = 5;
  st->fp.fpidx(3, 2) = 7;
  st->fp.owner(3) = 1;
  c(1, 1) = 2.0;
  c(1, 3) = 3.0;
  c(2, 1) = 0.0;
  c(3, 1) = 4.0;
  c(3, 3) = -6.0;
  footprint_store(*st, 1);
  const auto& t = st->tbt;
  EXPECT_EQ(t.tbtx[t.at(2, 0, 1)], 1.0f);  // x / sqrt(4)
  EXPECT_EQ(t.tbty[t.at(2, 0, 1)], 1.0f);  // y / sqrt(9)
  EXPECT_EQ(t.tbtx[t.at(0, 0, 1)], 0.0f);  // the slot without a grid point wrote nothing
  EXPECT_EQ(t.tbtx[t.at(5, 7, 1)], 2.0f);

  c(1, 1) = 5000.0;  // slot 1 lost: the others move down with their indices
  overflow(*st);
  ASSERT_EQ(st->np.npart, 2);
  c(2, 1) = 8.0;
  footprint_store(*st, 2);
  EXPECT_EQ(t.tbtx[t.at(5, 7, 2)], 4.0f);
  EXPECT_EQ(t.tbtx[t.at(2, 0, 2)], 0.0f);  // the lost particle's record stops
  EXPECT_EQ(t.tbtx[t.at(0, 0, 2)], 0.0f);
}

}  // namespace
}  // namespace bbtrack
