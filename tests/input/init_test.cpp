#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "input/readers.h"

namespace bbtrack {
namespace {

std::string run_init(State& st) {
  std::FILE* f = std::tmpfile();
  {
    textio::Options o;
    o.stdout_fd = fileno(f);
    textio::Io io(o);
    init(st, io);
  }
  std::string s;
  std::rewind(f);
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

TEST(Init, BeamBeamStrengthAndRevolutionTime) {
  auto st = std::make_unique<State>();
  st->bb.gamma = 7000.0;
  st->bb.dnb = 1.0e11;
  st->readin3.circumference = 26658.883;
  st->wire.wirestr = -7.0;
  st->qarind.kick0set(5) = 1;
  const std::string out = run_init(*st);
  EXPECT_NEAR(st->bb.srparam, 4.2857e-11, 1e-15);
  EXPECT_NEAR(st->vorn.factor, 5.3713e-11, 1e-15);
  EXPECT_DOUBLE_EQ(st->timec.trev, 26658.883 / 3.0e8);
  EXPECT_EQ(st->constant.pi, 3.141592653589793);
  EXPECT_EQ(st->qarind.kick0set(5), 0);
  EXPECT_EQ(st->wire.wirestr, -7.0);  // no wire: left as it was
  EXPECT_EQ(out.rfind("  VORN study: factor= ", 0), 0u);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
}

TEST(Init, WireCurrentBalancesTheLongRangeEncounters) {
  auto st = std::make_unique<State>();
  st->bb.gamma = 7460.52;
  st->bb.dnb = 1.15e11;
  st->crossing.npar = 16;
  st->wire.iwire = 1;
  const std::string out = run_init(*st);
  EXPECT_NE(out.find(" wire current = "), std::string::npos);
  EXPECT_NE(out.find(" A\n  wire check : "), std::string::npos);
  EXPECT_NE(out.find(" strength error : "), std::string::npos);
  // With no strength error the wire's kick equals npar encounters'.
  EXPECT_NEAR(16 * st->bb.srparam / st->wire.wirestr, 1.0, 1e-6);

  st->wire.wstrerr = 0.02;
  run_init(*st);
  EXPECT_NEAR(16 * st->bb.srparam / st->wire.wirestr, 1.0 / 1.02, 1e-6);
}

}  // namespace
}  // namespace bbtrack
