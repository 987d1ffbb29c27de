// Library error reporting: which IFAIL modes print, which return and which
// end the run, and the exact message records.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "spectral/real_fft.h"
#include "spectral/library_errors.h"
#include "textio/textio.h"

namespace bbtrack {
namespace {

const std::string kExit3 = " ** ABNORMAL EXIT from NAG Library routine C06EAF: IFAIL =     3\n";
const std::string kHard = " ** NAG hard failure - execution terminated\n";
const std::string kSoft = " ** NAG soft failure - control returned\n";

// Standard output and error of the library's Io go to scratch files.
class LibraryMessages : public ::testing::Test {
 protected:
  std::string text(std::FILE* f) {
    io_.flush();
    std::string s(4096, '\0');
    std::rewind(f);
    s.resize(std::fread(s.data(), 1, s.size(), f));
    return s;
  }
  std::string out() { return text(out_); }
  std::int32_t report(std::int32_t ifail, std::int32_t ierror) {
    return P01ABF(ifail, ierror, "C06EAF", 0, nullptr, lib_);
  }
  // Status with which f ends the run, -1 if it returns.
  template <class F>
  int status_of(F&& f) {
    try {
      f();
    } catch (const textio::Exit& e) {
      return e.status;
    }
    return -1;
  }

  static textio::Options options(std::FILE* out, std::FILE* err) {
    textio::Options o;
    o.stdout_fd = fileno(out);
    o.stderr_fd = fileno(err);
    o.getenv = [](const char*) -> const char* { return nullptr; };
    return o;
  }

  struct Close {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Close> out_file_{std::tmpfile()}, err_file_{std::tmpfile()};
  std::FILE* out_ = out_file_.get();
  std::FILE* err_ = err_file_.get();
  textio::Io io_{options(out_, err_)};
  NagLib lib_{&io_};
};

TEST_F(LibraryMessages, SilentCases) {
  for (std::int32_t ifail : {0, -1, 1, 10, 11, -13}) EXPECT_EQ(report(ifail, 0), 0);
  // Tens digit zero, or a value of 0 or less other than 0, -1 and -13.
  for (std::int32_t ifail : {1, 2, 101, 1001, -2, -11, -10, -14}) EXPECT_EQ(report(ifail, 2), 2);
  EXPECT_EQ(out(), "");
}

TEST_F(LibraryMessages, SoftModesPrintAndReturn) {
  EXPECT_EQ(report(-1, 3), 3);
  EXPECT_EQ(report(11, 3), 3);
  EXPECT_EQ(report(111, 3), 3);
  EXPECT_EQ(P01ABF(-1, -12, "X", 0, nullptr, lib_), -12);
  EXPECT_EQ(out(), kExit3 + kSoft + kExit3 + kSoft + kExit3 + kSoft +
                       " ** ABNORMAL EXIT from NAG Library routine X: IFAIL =   -12\n" + kSoft);
}

TEST_F(LibraryMessages, HardModesPrintFlushAndEndWithStatusZero) {
  std::string expect;
  for (std::int32_t ifail : {0, 10, 12, 110, 19}) {  // any units digit but 1
    EXPECT_EQ(status_of([&] { report(ifail, 3); }), 0) << "IFAIL = " << ifail;
    expect += kExit3 + kHard;
    EXPECT_EQ(out(), expect) << "IFAIL = " << ifail;
  }
}

TEST_F(LibraryMessages, TransformReportsThroughTheLibrary) {
  double x[23] = {5.0};
  std::int32_t ifail = -1;
  C06EAF(x, 1, ifail, lib_);
  EXPECT_EQ(ifail, 3);
  EXPECT_EQ(x[0], 5.0);
  ifail = 0;
  EXPECT_EQ(status_of([&] { C06EAF(x, 23, ifail, lib_); }), 0);
  EXPECT_EQ(out(), kExit3 + kSoft +
                       " ** ABNORMAL EXIT from NAG Library routine C06EAF: IFAIL =     1\n" +
                       kHard);
}

TEST_F(LibraryMessages, ExtraRecordsComeFirstAndAloneWithMinus13) {
  const std::string rec[2] = {" first record   ", "    "};
  EXPECT_EQ(P01ABF(-13, 4, "C06EAF", 2, rec, lib_), 4);
  // Trailing blanks go; a record of blanks keeps one.
  EXPECT_EQ(out(), " first record\n \n");
  EXPECT_EQ(P01ABF(-1, 4, "C06EAF", 1, rec, lib_), 4);
  EXPECT_EQ(out(),
            " first record\n \n first record\n"
            " ** ABNORMAL EXIT from NAG Library routine C06EAF: IFAIL =     4\n" +
                kSoft);
}

TEST_F(LibraryMessages, SavedErrorUnitRedirectsOrSilences) {
  std::int32_t nerr = -99;
  X04AAF(0, nerr, lib_);
  EXPECT_EQ(nerr, 6);
  X04AAF(2, nerr, lib_);  // neither reads nor sets
  EXPECT_EQ(nerr, 6);

  nerr = 0;  // standard error
  X04AAF(1, nerr, lib_);
  EXPECT_EQ(report(-1, 3), 3);
  EXPECT_EQ(text(err_), kExit3 + kSoft);

  nerr = -1;
  X04AAF(1, nerr, lib_);
  EXPECT_EQ(status_of([&] { report(0, 3); }), 0);
  EXPECT_EQ(out(), "");
  EXPECT_EQ(text(err_), kExit3 + kSoft);
}

}  // namespace
}  // namespace bbtrack
