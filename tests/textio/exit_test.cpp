// The error exit and the ends of the run, each in a child process: exit
// status, the message on standard error and the files left behind.
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "textio/textio_fixture.h"

namespace textio {
namespace {

class ExitTest : public testing::TextioTest {
 protected:
  // Runs `body` with a fresh Io in a child process; the child ends with the
  // status of the Exit it catches, or 0 after finish(). Returns the status.
  int run(const std::function<void(Io&)>& body) {
    for (int fd : {out_fd_, err_fd_}) {
      EXPECT_EQ(::ftruncate(fd, 0), 0);
      ::lseek(fd, 0, SEEK_SET);
    }
    pid_t pid = ::fork();
    if (pid == 0) {
      int status = 0;
      try {
        Io io(options());
        try {
          body(io);
          io.finish();
        } catch (const Exit& e) {
          status = e.status;
        }
      } catch (...) {
        status = 99;
      }
      ::_exit(status);
    }
    int ws = 0;
    ::waitpid(pid, &ws, 0);
    return WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
  }
  static std::string where(const Loc& loc) {
    return " In source file exit_test.cpp, at line number " + std::to_string(loc.line()) + "\n";
  }
};

TEST_F(ExitTest, ReadPastEndOfAMissingInputFile) {
  static constexpr int kReadLine = __LINE__ + 4;  // the statement's own line
  int status = run([&](Io& io) {
    io.open(21, "diff.input");
    std::int32_t n = 0;
    io.read(21, {n});
  });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(stderr_text(),
            "RTFIO-F-217/list-directed read/unit=21/attempt to read past end of file.\n"
            " File name = diff.input    formatted, sequential access   record = 1\n"
            " In source file exit_test.cpp, at line number " +
                std::to_string(kReadLine) + "\n");
  EXPECT_EQ(file("diff.input"), "");
}

TEST_F(ExitTest, RecordCounterAndWrittenRecordsKept) {
  put_file("in.dat", "1\n2\n");
  const Loc at = Loc::current();
  int status = run([&](Io& io) {
    io.open(22, "out.dat");
    io.write_record(22, "first");
    io.write_record(22, "second");
    io.print(6, {" start tracking "});
    io.open(21, "in.dat");
    std::string line;
    io.read_line(21, line);
    io.read_line(21, line);
    io.read_line(21, line, at);
  });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(stderr_text(),
            "RTFIO-F-217/formatted read/unit=21/attempt to read past end of file.\n"
            " File name = in.dat    formatted, sequential access   record = 3\n" +
                where(at));
  EXPECT_EQ(file("out.dat"), "first\nsecond\n");
  EXPECT_EQ(file("stdout.txt"), "  start tracking \n");
}

TEST_F(ExitTest, LexicalAndConversionErrors) {
  put_file("a.dat", "1 x2\n");
  put_file("b.dat", "\n\n'7'\n");
  put_file("c.dat", "2147483648\n");
  put_file("d.dat", "1e400\n");
  put_file("e.dat", std::string("1 \0", 3) + "\n");
  struct Case {
    const char* file;
    const char* line1;
    int rec;
  } cases[] = {
      {"a.dat", "RTFIO-F-225/list-directed read/unit=23/lexical error-- unknown token type.\n", 1},
      {"b.dat", "RTFIO-F-231/list-directed read/unit=23/error on data conversion.\n", 3},
      {"c.dat", "RTFIO-F-231/list-directed read/unit=23/error on data conversion.\n", 1},
      {"d.dat", "RTFIO-F-231/list-directed read/unit=23/error on data conversion.\n", 1},
      {"e.dat", "RTFIO-F-225/list-directed read/unit=23/lexical error-- unknown token type.\n", 1},
  };
  for (const Case& c : cases) {
    const Loc at = Loc::current();
    int status = run([&](Io& io) {
      io.open(23, c.file);
      std::int32_t i = 0;
      double d = 0;
      io.read(23, {i, d}, at);
    });
    EXPECT_EQ(status, 1) << c.file;
    EXPECT_EQ(stderr_text(), c.line1 + std::string(" File name = ") + c.file +
                                 "    formatted, sequential access   record = " +
                                 std::to_string(c.rec) + "\n" + where(at))
        << c.file;
  }
}

TEST_F(ExitTest, OpenErrors) {
  const Loc at = Loc::current();
  int status = run([&](Io& io) {
    io.open(21, "shared.dat");
    io.open(22, " shared.dat", at);
  });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(stderr_text(),
            "RTFIO-F-207/OPEN/unit=22/file is already connected to another unit.\n" + where(at));

  status = run([&](Io& io) { io.open(24, "   ", at); });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(stderr_text(), "RTFIO-F-211/OPEN/unit=24/invalid file name.\n" + where(at));

  status = run([&](Io& io) { io.open(24, "no/such/dir/x.dat", at); });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(stderr_text(),
            "RTFIO/stdio: No such file or directory\n"
            "RTFIO-F-/OPEN/unit=24/error code returned by host stdio - 2.\n" +
                where(at));
}

TEST_F(ExitTest, DiskFullOnTheImplicitlyOpenedUnit) {
  env_["FOR020"] = "/dev/full";
  const Loc at = Loc::current();
  int status = run([&](Io& io) {
    io.print(6, {" before"});
    io.write(20, Format("(I6,3(1X,E10.3),1X,I3,1X,I3)"), {1, 1.0, 2.0, 3.0, 4, 5},
             at);
  });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(stderr_text(),
            "RTFIO/stdio: No space left on device\n"
            "RTFIO-F-/formatted write/unit=20/error code returned by host stdio - 28.\n"
            " File name = /dev/full    formatted, sequential access   record = 1\n" +
                where(at));
  EXPECT_EQ(file("stdout.txt"), "  before\n");

  status = run([&](Io& io) {
    io.write_record(20, "x");
    io.close(20, at);
  });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(stderr_text(),
            "RTFIO/stdio: No space left on device\n"
            "RTFIO-F-/CLOSE/unit=20/error code returned by host stdio - 28.\n"
            " File name = /dev/full    formatted, sequential access   record = 1\n" +
                where(at));
}

TEST_F(ExitTest, StandardInputAtEnd) {
  const Loc at = Loc::current();
  int status = run([&](Io& io) {
    double x = 0;
    io.read(5, {x}, at);
  });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(stderr_text(),
            "RTFIO-F-217/list-directed read/unit=5/attempt to read past end of file.\n"
            " File name = stdin    formatted, sequential access   record = 1\n" +
                where(at));
}

TEST_F(ExitTest, ReadOfAnUnconnectedUnitNeedsAnExistingFile) {
  const Loc at = Loc::current();
  int status = run([&](Io& io) {
    double x = 0;
    io.read(30, {x}, at);
  });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(stderr_text(),
            "RTFIO-F-209/list-directed read/unit=30/'OLD' specified for file which does not "
            "exist.\n" +
                where(at));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "fort.30"));
}

TEST_F(ExitTest, StopWithAndWithoutMessage) {
  int status = run([&](Io& io) {
    io.open(22, "res.dat");
    io.write_record(22, "last record");
    io.print(6, {" turn limit"});
    io.stop();
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(stderr_text(), "FORTRAN STOP\n");
  EXPECT_EQ(file("res.dat"), "last record\n");
  EXPECT_EQ(file("stdout.txt"), "  turn limit\n");

  env_["NO_STOP_MESSAGE"] = "";
  status = run([&](Io& io) { io.stop(); });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(stderr_text(), "");
}

TEST_F(ExitTest, TerminateFlushesWithoutMessage) {
  int status = run([&](Io& io) {
    io.open(22, "res.dat");
    io.write_record(22, "kept");
    io.terminate(0);
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(stderr_text(), "");
  EXPECT_EQ(file("res.dat"), "kept\n");
}

}  // namespace
}  // namespace textio
