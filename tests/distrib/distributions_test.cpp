#include "distrib/distributions.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "input/ranuni.h"

namespace bbtrack {
namespace {

// An Io whose standard output goes to a temporary file we can read back.
struct Captured {
  std::FILE* f = std::tmpfile();
  std::unique_ptr<textio::Io> io;
  Captured() {
    textio::Options o;
    o.stdout_fd = fileno(f);
    io = std::make_unique<textio::Io>(o);
  }
  ~Captured() { std::fclose(f); }
  std::string text() {
    io->flush();
    std::string s;
    std::rewind(f);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    return s;
  }
};

std::unique_ptr<State> optics() {
  auto st = std::make_unique<State>();
  st->twiss = {-0.7, 1.3, 150.0, 40.0};
  st->bb.emit = 5e-10;
  st->constant.pi = 4.0 * std::atan(1.0);
  return st;
}

TEST(Initcoordwire, SameAmplitudeInBothPlanesAndRepeatable) {
  auto a = optics();
  a->np.npart = 169;
  a->icoord.ampin = 3.0;
  Captured out;
  initcoordwire(*a, *out.io);
  for (int i = 1; i <= 169; ++i) {
    const double x = a->coord.coord(i, 1), xp = a->coord.coord(i, 2);
    const double y = a->coord.coord(i, 3), yp = a->coord.coord(i, 4);
    const auto& tw = a->twiss;
    // Courant-Snyder invariant in beam sizes.
    const double jx = (x * x / tw.betx + tw.betx * std::pow(tw.alfx * x / tw.betx + xp, 2)) / 5e-10;
    const double jy = (y * y / tw.bety + tw.bety * std::pow(tw.alfy * y / tw.bety + yp, 2)) / 5e-10;
    EXPECT_NEAR(std::sqrt(jx), 3.0, 1e-12);
    EXPECT_NEAR(std::sqrt(jy), 3.0, 1e-12);
  }
  auto b = optics();
  b->np.npart = 169;
  b->icoord.ampin = 3.0;
  initcoordwire(*b, *out.io);
  for (int i = 1; i <= 169; ++i)
    for (int m = 1; m <= 4; ++m) EXPECT_EQ(a->coord.coord(i, m), b->coord.coord(i, m));
  // Phases come from the fixed seed.
  std::int32_t seed = kDistributionSeed;
  double r[2];
  ranuni(seed, r, 1);
  const double phx = 2.0 * a->constant.pi * r[0];
  EXPECT_EQ(a->coord.coord(1, 1), 3.0 * std::sqrt(150.0 * 5e-10) * std::sin(phx));
  EXPECT_EQ(out.text(), "");

  auto z = optics();
  z->np.npart = 169;
  initcoordwire(*z, *out.io);  // ampin = 0: all at the origin
  for (int i = 1; i <= 169; ++i)
    for (int m = 1; m <= 4; ++m) EXPECT_EQ(z->coord.coord(i, m), 0.0);
}

TEST(Initcoorduni, GridOf144PlusOne) {
  auto st = optics();
  st->np.npart = 169;
  Captured out;
  initcoorduni(*st, *out.io);
  EXPECT_EQ(out.text(), "  nparts =           12\n");
  const double sx = std::sqrt(150.0 * 5e-10), sy = std::sqrt(40.0 * 5e-10);
  EXPECT_EQ(st->coord.coord(1, 1), 0.009999999776482582 * sx);
  EXPECT_EQ(st->coord.coord(1, 3), 0.009999999776482582 * sy);
  const double step = 10.0 / 12;
  EXPECT_EQ(st->coord.coord(2, 1), 1 * step * sx);
  EXPECT_EQ(st->coord.coord(2, 3), 1 * step * sy);
  EXPECT_EQ(st->coord.coord(145, 1), 12 * step * sx);
  EXPECT_EQ(st->coord.coord(145, 3), 12 * step * sy);
  EXPECT_NEAR(st->coord.coord(145, 1) / sx, 10.0, 1e-12);
  for (int p = 146; p <= 169; ++p) EXPECT_EQ(st->coord.coord(p, 1), 0.0);
}

TEST(Initcoordunir, RandomSquareWithCountPrinted) {
  auto st = optics();
  st->np.npart = 15;
  Captured out;
  initcoordunir(*st, *out.io);
  EXPECT_EQ(out.text(), "  nparts =           15\n");
  std::int32_t seed = kDistributionSeed;
  double r[60];
  ranuni(seed, r, 60);
  for (int i = 1; i <= 15; ++i) {
    EXPECT_EQ(st->coord.coord(i, 1), 3.0 * r[30 + i - 1] * std::sqrt(150.0 * 5e-10));
    EXPECT_EQ(st->coord.coord(i, 3), 3.0 * r[45 + i - 1] * std::sqrt(40.0 * 5e-10));
    EXPECT_EQ(st->coord.coord(i, 2), 0.0);
  }
}

TEST(Initcoordfp, PolarGridWithStride14) {
  auto st = optics();
  st->np.npart = 169;
  Captured out;
  initcoordfp(*st, *out.io);
  const std::string text = out.text();
  int lines = 0;
  for (char c : text) lines += c == '\n';
  EXPECT_EQ(lines, 2 * 169);  // x and y overflow onto a second line
  EXPECT_EQ(text.rfind("  footprint init", 0), 0u);
  const double sx = std::sqrt(150.0 * 5e-10);
  // First point: smallest amplitude at 45 degrees.
  EXPECT_NEAR(std::hypot(st->coord.coord(1, 1), st->coord.coord(1, 3)) / sx, 0.01, 1e-9);
  EXPECT_NEAR(st->coord.coord(1, 1), st->coord.coord(1, 3), 1e-20);
  // Slots 14, 28, ..., 168 get no grid point; p = (n+1) j + i + 1.
  for (int p = 14; p <= 168; p += 14) {
    EXPECT_EQ(st->fp.owner(p), 0) << p;
    EXPECT_EQ(st->coord.coord(p, 1), 0.0);
  }
  EXPECT_EQ(st->fp.fpidx(15, 1), 0);  // j = 1, i = 0
  EXPECT_EQ(st->fp.fpidx(15, 2), 1);
  EXPECT_NEAR(st->coord.coord(15, 1) / sx, 0.51, 1e-6);  // amplitude 0.01 + sigma/2
  EXPECT_EQ(st->fp.fpidx(13, 1), 12);
  EXPECT_NEAR(std::atan2(st->coord.coord(13, 3), st->coord.coord(13, 1)),
              std::atan(1.0) * 2 + 9.999999747378752e-06, 1e-12);
  // The last grid row reaches slot 181, beyond the 169 tracked ones.
  EXPECT_EQ(st->fp.owner(181), 1);
  EXPECT_EQ(st->fp.fpidx(181, 2), 12);
  EXPECT_NEAR(std::hypot(st->coord.coord(181, 1), st->coord.coord(181, 3)) / sx, 6.01, 1e-9);
}

}  // namespace
}  // namespace bbtrack
