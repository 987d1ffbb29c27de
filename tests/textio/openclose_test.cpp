// Open, close, truncation of rewritten files and the implicit open.
#include <filesystem>

#include "textio/textio_fixture.h"

namespace textio {
namespace {

using OpenClose = testing::TextioTest;
namespace fs = std::filesystem;

const Format kRec("(1X,I5,4(1X,E10.4))");

TEST_F(OpenClose, FirstWriteReplacesOldContent) {
  put_file("phasespace.dat", "old line one\nold line two\nold line three\nold line four\n");
  io().open(22, "phasespace.dat");
  for (int i = 1; i <= 3; ++i) io().write(22, kRec, {i, 1.0, 2.0, 3.0, 4.0});
  io().close(22);
  const std::string rec = " 0.1000E+01 0.2000E+01 0.3000E+01 0.4000E+01\n";
  EXPECT_EQ(file("phasespace.dat"), "     1" + rec + "     2" + rec + "     3" + rec);
}

TEST_F(OpenClose, OpenNeverTruncatesAndCreatesMissingFiles) {
  put_file("keep.dat", "content\n");
  io().open(21, "keep.dat");
  io().open(23, "new.dat");
  io().finish();
  EXPECT_EQ(file("keep.dat"), "content\n");
  EXPECT_TRUE(fs::exists(dir_ / "new.dat"));
  EXPECT_EQ(file("new.dat"), "");
}

TEST_F(OpenClose, WriteAfterReadCutsAtTheReadPosition) {
  put_file("rw.dat", "a\nb\nc\n");
  io().open(21, "rw.dat");
  std::string line;
  io().read_line(21, line);
  io().write_record(21, "X");
  io().write_record(21, "Y");
  io().close(21);
  EXPECT_EQ(file("rw.dat"), "a\nX\nY\n");
}

TEST_F(OpenClose, ReopeningTheSameNameIsANoOpAnotherNameClosesFirst) {
  put_file("in.dat", "1\n2\n");
  io().open(21, "in.dat");
  std::int32_t v = 0;
  io().read(21, {v});
  io().open(21, "  in.dat ");  // same name after trimming: position kept
  io().read(21, {v});
  EXPECT_EQ(v, 2);

  io().open(25, "first.dat");
  io().write_record(25, "one");
  io().open(25, "second.dat");  // first.dat is closed, its record written
  EXPECT_EQ(file("first.dat"), "one\n");
  io().write_record(25, "two");
  io().finish();
  EXPECT_EQ(file("second.dat"), "two\n");
}

TEST_F(OpenClose, ClosedFileCanBeReopenedAndRewritten) {
  io().open(35, "test.dat");
  io().write_record(35, "first run");
  io().close(35);
  io().close(35);  // not connected any more: nothing happens
  io().close(99);
  io().open(35, "test.dat");
  io().write_record(35, "second");
  io().close(35);
  EXPECT_EQ(file("test.dat"), "second\n");
}

TEST_F(OpenClose, LongNamesAreCutTo255Characters) {
  io().open(21, std::string(300, 'n'));
  io().close(21);
  EXPECT_TRUE(fs::exists(dir_ / std::string(255, 'n')));
}

TEST_F(OpenClose, ImplicitOpenUsesFortDotUnit) {
  put_file("fort.20", "stale\nstale\n");
  io().write(20, Format("(I6,3(1X,E10.3),1X,I3,1X,I3)"), {1, 1.0, 2.0, 3.0, 4, 5});
  io().finish();
  EXPECT_EQ(file("fort.20"), "     1  0.100E+01  0.200E+01  0.300E+01   4   5\n");
}

TEST_F(OpenClose, ImplicitOpenUsesTheEnvironmentName) {
  env_["FOR020"] = "diffusion.out";
  io().write_record(20, "rec");
  io().finish();
  EXPECT_EQ(file("diffusion.out"), "rec\n");
  EXPECT_FALSE(fs::exists(dir_ / "fort.20"));
}

TEST_F(OpenClose, StandardStreamsAreConnectedFromTheStart) {
  io().write_record(6, "to stdout");
  io().write_record(0, "to stderr");
  io().print(6, {"x"});
  EXPECT_EQ(stdout_text(), "to stdout\n x\n");
  EXPECT_EQ(stderr_text(), "to stderr\n");
}

TEST_F(OpenClose, DestructorClosesEveryUnit) {
  io().open(21, "a.dat");
  io().write_record(21, "kept");
  io().write_record(6, "out");
  io_.reset();
  EXPECT_EQ(file("a.dat"), "kept\n");
  EXPECT_EQ(file("stdout.txt"), "out\n");
}

}  // namespace
}  // namespace textio
