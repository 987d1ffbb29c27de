#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>

#include "input/readers.h"

namespace bbtrack {
namespace {

// The 51 lines of a parameter file with a value on every read line.
std::string parameter_file(const std::string& wire_errors, const std::string& emitn,
                           const std::string& gamma) {
  const char* values[51] = {
      "title", "1.5", "", "", "2", "", "1", "", "7", "", "123", "", "500", "",
      "0.31 0.32 trailing words", "", "0.41, 0.42", "", "1000.0", "", "1e11", "", "7.5", "",
      "0.55", "", nullptr, "", nullptr, "", "0.003", "", "1e-5", "", "2e-5", "", "3e-4", "",
      "16", "", "0.1 0.2", "0.3 0.4", "", "1", "", nullptr, "4.5", "1", "", "80 1", "9 100 200"};
  std::string s;
  for (int i = 0; i < 51; ++i) {
    if (i == 26) s += emitn;
    else if (i == 28) s += gamma;
    else if (i == 45) s += wire_errors;
    else s += values[i];
    s += "\n";
  }
  return s;
}

TEST(Readinwire, DerivedValuesAndPositionalLayout) {
  char t[] = "/tmp/bbtrack-rw-XXXXXX";
  const std::string dir = mkdtemp(t);
  std::ofstream(dir + "/diff.input") << parameter_file("2.0 0.5 0.1", "3.0E-6", "1000");
  auto st = std::make_unique<State>();
  std::FILE* out = std::tmpfile();
  {
    textio::Options o;
    o.dir = dir;
    o.stdout_fd = fileno(out);
    textio::Io io(o);
    readinwire(*st, io);
  }
  EXPECT_EQ(st->bb.emit, 3.0e-6 / 1000.0);
  EXPECT_EQ(st->wire.wstrerr, 0.01 * 2.0);  // percent to fraction, after the echo
  EXPECT_EQ(st->wire.werr2, 0.5);
  EXPECT_EQ(st->wire.wranerr, 0.1);
  EXPECT_EQ(st->readin1.iopt, 2);
  EXPECT_EQ(st->readin2.itrip, 1);
  EXPECT_EQ(st->readin1.ntrack, 123);
  EXPECT_EQ(st->phase.phase[1], 0.32);
  EXPECT_EQ(st->phase.phase[3], 0.42);
  EXPECT_EQ(st->tunemd.fy, 0.4);
  EXPECT_EQ(st->wire3.wdist, 9.0);
  EXPECT_EQ(st->wire3.wbetax, 100.0);
  EXPECT_EQ(st->wire3.wbetay, 200.0);
  std::string text(4096, '\0');
  std::rewind(out);
  text.resize(std::fread(text.data(), 1, text.size(), out));
  std::fclose(out);
  EXPECT_NE(text.find("  wire errors =    2.000000000000000       0.5000000000000000      mrad\n"
                      "  wire random errors =   0.1000000000000000     \n"),
            std::string::npos);
  EXPECT_NE(text.find("  wire betay =   200.0000000000000     \n"), std::string::npos);
  [[maybe_unused]] int rc = std::system(("rm -rf " + dir).c_str());
}

}  // namespace
}  // namespace bbtrack
