// The run folder is the user's: closed standard streams, links, a FIFO in
// an input's place, a second run, a reader of standard output that goes
// away, a stop or a refusal, an unwritable or full output never cost an
// input, a file outside the folder or a record, and never leave an earlier
// run's results under this run's names.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "e2e/compare.h"
#include "e2e/inputs.h"

namespace e2e {
namespace {

// A ring with two encounters: quick turns.
Inputs quick(const DiffInput& d) {
  return {{"diff.input", d.text()},
          {"Matrices.dat", ring_matrices(0.67, 0.68, 80.0, 60.0)},
          {"Sigmas.dat", uniform_sigmas(0.2, 0.17, 0.9, -0.4)},
          {"excluded.dat", exclude_all_but({1, 2})}};
}

void write_inputs(const TempDir& dir, const Inputs& in) {
  for (const auto& [name, text] : in) write_file(dir.file(name), text);
}

std::string real(const std::string& path) {
  char buf[PATH_MAX];
  return ::realpath(path.c_str(), buf) ? std::string(buf) : path;
}

// The program started in a folder: standard output on a pipe (or
// /dev/null), standard error in DIR/.stderr; `prepare` runs in the child
// just before the program starts.
struct Child {
  pid_t pid = -1;
  int out = -1;
  std::string seen;
};

Child spawn(const TempDir& dir, bool pipe_out, const std::function<void()>& prepare = {},
            const char* binary = BBTRACK_BINARY) {
  int p[2] = {-1, -1};
  if (pipe_out && ::pipe(p) != 0) std::abort();
  Child c;
  c.pid = ::fork();
  if (c.pid == 0) {
    if (::chdir(dir.path().c_str()) != 0) _exit(127);
    const int null = ::open("/dev/null", O_RDWR);
    const int err = ::open(".stderr", O_WRONLY | O_CREAT | O_TRUNC, 0666);
    ::dup2(null, 0);
    ::dup2(pipe_out ? p[1] : null, 1);
    ::dup2(err, 2);
    for (int fd : {null, err, p[0], p[1]})
      if (fd > 2) ::close(fd);
    ::unsetenv("NO_STOP_MESSAGE");
    if (prepare) prepare();
    ::execl(binary, binary, static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pipe_out) {
    ::close(p[1]);
    c.out = p[0];
  }
  return c;
}

// Reads standard output until `text` has arrived (false at its end).
bool wait_for(Child& c, const std::string& text) {
  char buf[4096];
  while (c.seen.find(text) == std::string::npos) {
    const ssize_t n = ::read(c.out, buf, sizeof buf);
    if (n <= 0) return false;
    c.seen.append(buf, static_cast<std::size_t>(n));
  }
  return true;
}

// Reads standard output to its end, then waits: the exit status, or -1
// after an end by a signal.
int finish(Child& c) {
  if (c.out >= 0) {
    wait_for(c, std::string(1, '\0'));
    ::close(c.out);
  }
  int ws = 0;
  ::waitpid(c.pid, &ws, 0);
  return WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
}

// Whole records of a fixed length, and how many.
int whole_records(const std::string& text, std::size_t length) {
  const auto lines = split_lines(text);
  if (!text.empty() && text.back() != '\n') return -1;
  for (const auto& l : lines)
    if (l.size() != length) return -1;
  return static_cast<int>(lines.size());
}

constexpr std::size_t kDiffRecord = 47, kPhaseRecord = 50;
constexpr int kUnreachable = 77;  // the child's status when its program is out of reach

TEST(RunFolder, ClosedStandardStreamsLeaveTheInputsAlone) {
  Inputs in = quick(DiffInput());
  in.erase("excluded.dat");  // its warning goes to standard error
  TempDir lone;
  write_inputs(lone, in);
  ASSERT_EQ(run_program(lone.path()).status, 0);
  for (int fd : {0, 1, 2}) {
    SCOPED_TRACE(fd);
    TempDir dir;
    write_inputs(dir, in);
    Child c = spawn(dir, false, [fd] { ::close(fd); });
    EXPECT_EQ(finish(c), 0);
    for (const auto& n : list_files(lone.path()))
      EXPECT_TRUE(read_file(dir.file(n)) == read_file(lone.file(n))) << n;
  }
}

TEST(RunFolder, ResultsAreNeverWrittenThroughALink) {
  TempDir outside;
  write_file(outside.file("theirs"), "theirs\n");
  for (const char* name : {"diff.dat", "resav.out"}) {
    for (const char* target : {"theirs", "missing"}) {
      SCOPED_TRACE(std::string(name) + " -> " + target);
      TempDir dir;
      write_inputs(dir, quick(DiffInput()));
      write_file(dir.file("test.dat"), "earlier\n");
      write_file(dir.file("imageoflrbb.dat"), "earlier\n");
      ASSERT_EQ(::symlink(outside.file(target).c_str(), dir.file(name).c_str()), 0);
      const RunResult r = run_program(dir.path());
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, "diff2wirenew: error: " + std::string(name) + " in " + real(dir.path()) +
                           " is a symbolic link; a result is never written through a link "
                           "(remove it, or run in another folder)\n");
      EXPECT_EQ(r.out.find(" start tracking "), std::string::npos);
      EXPECT_EQ(read_file(outside.file("theirs")), "theirs\n");
      EXPECT_FALSE(file_exists(outside.file("missing")));
      EXPECT_EQ(read_file(dir.file("test.dat")), "earlier\n");  // no result emptied
      EXPECT_EQ(read_file(dir.file("imageoflrbb.dat")), "earlier\n");
    }
  }
  // An input may be a link: it is only read.
  TempDir dir;
  write_inputs(dir, quick(DiffInput()));
  ::rename(dir.file("Sigmas.dat").c_str(), outside.file("Sigmas.dat").c_str());
  ASSERT_EQ(::symlink(outside.file("Sigmas.dat").c_str(), dir.file("Sigmas.dat").c_str()), 0);
  EXPECT_EQ(run_program(dir.path()).status, 0);
}

TEST(RunFolder, AResultWithOtherNamesIsReplacedNotWrittenThrough) {
  // Results that are hard links to the inputs: each is replaced by a new
  // file, the inputs keep their bytes, the results are those of a lone run.
  const Inputs in = quick(DiffInput().set(kNtrack, "1000"));
  TempDir lone;
  write_inputs(lone, in);
  ASSERT_EQ(run_program(lone.path()).status, 0);
  TempDir dir;
  write_inputs(dir, in);
  for (const auto& [input, result] :
       {std::pair{"diff.input", "test.dat"}, std::pair{"Matrices.dat", "diff.dat"},
        std::pair{"Sigmas.dat", "imageoflrbb.dat"}})
    ASSERT_EQ(::link(dir.file(input).c_str(), dir.file(result).c_str()), 0);
  EXPECT_EQ(run_program(dir.path()).status, 0);
  for (const auto& [n, text] : in) EXPECT_TRUE(read_file(dir.file(n)) == text) << n;
  for (const auto& n : list_files(lone.path()))
    EXPECT_TRUE(read_file(dir.file(n)) == read_file(lone.file(n))) << n;

  // A folder copied as links (cp -al) and run with other inputs: the
  // original keeps its results.
  std::map<std::string, std::string> before;
  for (const auto& n : list_files(lone.path())) before[n] = read_file(lone.file(n));
  TempDir copy;
  ASSERT_EQ(::rmdir(copy.path().c_str()), 0);
  ASSERT_EQ(std::system(("cp -al '" + lone.path() + "' '" + copy.path() + "'").c_str()), 0);
  ::unlink(copy.file("diff.input").c_str());  // a new file, not written through
  write_file(copy.file("diff.input"), DiffInput().set(kNtrack, "1100").set(kAmp, "3.0").text());
  EXPECT_EQ(run_program(copy.path()).status, 0);
  EXPECT_NE(read_file(copy.file("diff.dat")), before["diff.dat"]);
  for (const auto& [n, text] : before) EXPECT_TRUE(read_file(lone.file(n)) == text) << n;
}

TEST(RunFolder, RefusedAndStoppedRunsLeaveNoEarlierResult) {
  // A footprint of 1009 turns (a prime: the transform refuses it) after one
  // of 1024 turns is refused before tracking: it opens no result file, so
  // the earlier run's tunes stay whole, and the exit status says that this
  // run made none.
  TempDir fp;
  write_inputs(fp, quick(DiffInput().set(kIopt, "3").set(kNtrack, "1024")));
  ASSERT_EQ(run_program(fp.path()).status, 0);
  const std::string earlier = read_file(fp.file("footprint.dat"));
  ASSERT_EQ(count_lines(earlier), 196);
  write_file(fp.file("diff.input"), DiffInput().set(kIopt, "3").set(kNtrack, "1009").text());
  EXPECT_EQ(run_program(fp.path()).status, 2);
  EXPECT_EQ(read_file(fp.file("footprint.dat")), earlier);

  // A run stopped by SIGTERM after a complete one: the earlier rates are
  // gone, diff.dat holds this run's whole records, test.dat is emptied.
  TempDir dir;
  write_inputs(dir, quick(DiffInput().set(kNtrack, "2000")));
  ASSERT_EQ(run_program(dir.path()).status, 0);
  ASSERT_NE(read_file(dir.file("resav.out")), "");
  write_file(dir.file("test.dat"), "earlier\n");
  write_file(dir.file("diff.input"), DiffInput().set(kNtrack, "200000").text());
  Child c = spawn(dir, true);
  ASSERT_TRUE(wait_for(c, "  i =         1500\n"));
  ::kill(c.pid, SIGTERM);
  EXPECT_EQ(finish(c), 143);
  EXPECT_EQ(read_file(dir.file("resav.out")), "");
  EXPECT_EQ(read_file(dir.file("test.dat")), "");
  EXPECT_GE(whole_records(read_file(dir.file("diff.dat")), kDiffRecord), 5);
}

TEST(RunFolder, ASecondRunIsRefusedWhileTheFirstGoesOn) {
  const Inputs in = quick(DiffInput().set(kNtrack, "3000"));
  TempDir lone;
  write_inputs(lone, in);
  const RunResult alone = run_program(lone.path());
  ASSERT_EQ(alone.status, 0);

  TempDir dir;
  write_inputs(dir, in);
  Child first = spawn(dir, true);
  ASSERT_TRUE(wait_for(first, " start tracking \n"));
  ::kill(first.pid, SIGSTOP);  // the first run holds the folder meanwhile
  const RunResult second = run_program(dir.path());
  ::kill(first.pid, SIGCONT);
  EXPECT_EQ(second.status, 2);
  EXPECT_EQ(second.out, "");
  EXPECT_EQ(second.err, "diff2wirenew: error: another run (process " +
                            std::to_string(first.pid) + ") is running in " + real(dir.path()) +
                            "; a second run in the same folder would mix its results with the "
                            "first's: wait for it to end, or run in another folder\n");
  EXPECT_EQ(finish(first), 0);
  EXPECT_TRUE(first.seen == alone.out);
  for (const auto& n : list_files(lone.path()))
    EXPECT_TRUE(read_file(dir.file(n)) == read_file(lone.file(n))) << n;
}

TEST(RunFolder, UnitFileNamingAnInputOrAResultIsRefused) {
  TempDir dir;
  const Inputs in = quick(DiffInput().set(kIopt, "2").set(kNtrack, "1000"));
  write_inputs(dir, in);
  write_file(dir.file("imageoflrbb.dat"), "earlier\n");
  const std::string input = "which is the input file ", result = "which is the result file ";
  for (const auto& [name, what] :
       {std::pair{std::string("Sigmas.dat"), input}, std::pair{std::string("./diff.input"), input},
        std::pair{dir.file("excluded.dat"), input},
        std::pair{std::string("multdist.dat"), input},  // an input of itrip = 1, missing here
        std::pair{std::string("imageoflrbb.dat"), result},
        std::pair{std::string("./test.dat"), result},
        std::pair{std::string("diff.dat"), result}}) {  // a result of option 0
    SCOPED_TRACE(name);
    const RunResult r = run_program(dir.path(), {{"FOR020", name}});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.starts_with("diff2wirenew: error: unit 20 would write its records to " +
                                  name + ", " + what))
        << r.err;
    EXPECT_EQ(count_lines(r.err), 1);
    for (const auto& [n, text] : in) EXPECT_TRUE(read_file(dir.file(n)) == text) << n;
    EXPECT_FALSE(file_exists(dir.file("multdist.dat")));
    EXPECT_FALSE(file_exists(dir.file("frequencymap.dat")));  // no result opened
    EXPECT_EQ(read_file(dir.file("imageoflrbb.dat")), "earlier\n");
  }
  EXPECT_EQ(run_program(dir.path(), {{"FOR020", "records.dat"}}).status, 0);
  EXPECT_EQ(whole_records(read_file(dir.file("records.dat")), kDiffRecord), 1);
}

TEST(RunFolder, FifoInputIsRefusedAndAStopDuringStartUpIsHonoured) {
  TempDir dir;
  write_inputs(dir, quick(DiffInput()));
  ::unlink(dir.file("Sigmas.dat").c_str());
  ASSERT_EQ(::mkfifo(dir.file("Sigmas.dat").c_str(), 0644), 0);
  const RunResult r = run_program(dir.path());  // would hang on the FIFO
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "diff2wirenew: error: Sigmas.dat in " + real(dir.path()) +
                       " is a FIFO, not a regular file; an input is read only from a plain "
                       "file\n");

  // SIGTERM while the start-up waits for room on standard output (its
  // echo is far more than a pipe holds): the run stops at the end of the
  // start-up, with the result files emptied and nothing tracked.
  TempDir stop;
  write_inputs(stop, quick(DiffInput().set(kNtrack, "200000")));
  write_file(stop.file("resav.out"), "earlier\n");
  Child c = spawn(stop, true);
  ASSERT_TRUE(wait_for(c, " amp = "));
  ::kill(c.pid, SIGTERM);
  EXPECT_EQ(finish(c), 143);
  EXPECT_EQ(read_file(stop.file(".stderr")),
            "diff2wirenew: error: stopped by SIGTERM (signal 15) during the start-up; nothing "
            "was tracked, and the result files of the run option are empty\n");
  EXPECT_EQ(read_file(stop.file("resav.out")), "");
  EXPECT_EQ(c.seen.find(" i = "), std::string::npos);
}

TEST(RunFolder, AReaderOfStandardOutputThatGoesAwayStopsTheRun) {
  // diff2wirenew | head -1: the reader goes during the start-up.
  TempDir head;
  write_inputs(head, quick(DiffInput().set(kNtrack, "200000")));
  Child h = spawn(head, true);
  ASSERT_TRUE(wait_for(h, "\n"));
  ::close(h.out);
  h.out = -1;
  EXPECT_EQ(finish(h), 141);
  EXPECT_EQ(read_file(head.file(".stderr")),
            "diff2wirenew: error: stopped by SIGPIPE (signal 13, the reader of standard output "
            "has gone) during the start-up; nothing was tracked, and the result files of the run "
            "option are empty\n");
  EXPECT_EQ(count_lines(read_file(head.file("imageoflrbb.dat"))), 72);

  // The reader goes during the tracking: the run stops after the turn in
  // which standard output failed, every record kept.
  TempDir dir;
  write_inputs(dir, quick(DiffInput().set(kNtrack, "200000")));
  Child c = spawn(dir, true);
  ASSERT_TRUE(wait_for(c, "  i =         1500\n"));
  ::close(c.out);
  c.out = -1;
  EXPECT_EQ(finish(c), 141);
  const std::string err = read_file(dir.file(".stderr"));
  EXPECT_TRUE(err.starts_with("diff2wirenew: error: stopped by SIGPIPE (signal 13, the reader "
                              "of standard output has gone) after turn "))
      << err;
  EXPECT_EQ(count_lines(err), 1);
  EXPECT_GE(whole_records(read_file(dir.file("diff.dat")), kDiffRecord), 11);
}

TEST(RunFolder, OutputErrorsAreFoundBeforeTrackingAndCutToWholeRecords) {
  // A file size limit met part way through a block of phase-space records:
  // the file is cut back to its last whole record, the run says so, and the
  // message names the first record lost.
  constexpr rlim_t kLimit = 100000;
  TempDir full;
  write_inputs(full, quick(DiffInput().set(kIopt, "1")));
  Child f = spawn(full, false, [] {
    const rlimit lim{kLimit, kLimit};
    ::setrlimit(RLIMIT_FSIZE, &lim);
  });
  EXPECT_EQ(finish(f), 1);
  const std::string kept = read_file(full.file("phasespace.dat"));
  const int records = whole_records(kept, kPhaseRecord);
  EXPECT_EQ(records, static_cast<int>(kLimit / (kPhaseRecord + 1)));
  const auto err = split_lines(read_file(full.file(".stderr")));
  ASSERT_EQ(err.size(), 5u);
  EXPECT_EQ(err[0], "diff2wirenew: error: phasespace.dat in " + real(full.path()) +
                        " ends on its last whole record (" + std::to_string(kept.size()) +
                        " bytes) after the failed write");
  EXPECT_EQ(err[1], "RTFIO/stdio: " + std::string(std::strerror(EFBIG)));
  EXPECT_EQ(err[3], " File name = phasespace.dat    formatted, sequential access   record = " +
                        std::to_string(records + 1));

  // A result file that is a folder: the line before the message names it.
  TempDir odd;
  write_inputs(odd, quick(DiffInput()));
  ASSERT_EQ(::mkdir(odd.file("resav.out").c_str(), 0755), 0);
  const RunResult r = run_program(odd.path());
  EXPECT_EQ(r.status, 1);
  const auto odd_err = split_lines(r.err);
  ASSERT_EQ(odd_err.size(), 4u);  // not connected: no file line
  EXPECT_EQ(odd_err[0], "diff2wirenew: error: the result file resav.out in " + real(odd.path()) +
                            " is a directory, and cannot be opened for writing (" +
                            std::strerror(EISDIR) + ")");

  // An existing resav.out the user may not write: refused when the result
  // files are opened, before the first turn, and none of them emptied.
  // Root writes anything, so the run is made as nobody, by a copy of the
  // program in the run folder (the build's may sit where nobody cannot go).
  TempDir dir;
  write_inputs(dir, quick(DiffInput()));
  write_file(dir.file("resav.out"), "earlier\n");
  write_file(dir.file("test.dat"), "earlier\n");
  ::chmod(dir.path().c_str(), 0777);
  ::chmod(dir.file("test.dat").c_str(), 0666);
  ::chmod(dir.file("resav.out").c_str(), 0444);
  const std::string program = dir.file(".program");
  std::filesystem::copy_file(BBTRACK_BINARY, program);
  ::chmod(program.c_str(), 0755);
  const bool root = ::geteuid() == 0;
  Child c = spawn(
      dir, true,
      [root, &program] {
        if (root && ::setuid(65534) != 0) _exit(126);
        if (::access(program.c_str(), X_OK) != 0) _exit(kUnreachable);
      },
      program.c_str());
  const int status = finish(c);
  if (status == kUnreachable)
    GTEST_SKIP() << "the user nobody cannot reach " << dir.path()
                 << " (a folder above it is private): the unwritable file is not tried";
  EXPECT_EQ(status, 1);
  const auto lines = split_lines(read_file(dir.file(".stderr")));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "diff2wirenew: error: the result file resav.out in " + real(dir.path()) +
                          " cannot be opened for writing (" + std::strerror(EACCES) + ")");
  EXPECT_EQ(lines[2], "RTFIO-F-/OPEN/unit=21/error code returned by host stdio - " +
                          std::to_string(EACCES) + ".");
  EXPECT_EQ(c.seen.find(" start tracking "), std::string::npos);
  EXPECT_EQ(read_file(dir.file("test.dat")), "earlier\n");
}

TEST(RunFolder, FilesAreOnDiskWhileTheRunGoesOn) {
  TempDir dir;
  write_inputs(dir, quick(DiffInput().set(kNtrack, "200000")));
  Child c = spawn(dir, true);
  ASSERT_TRUE(wait_for(c, " start tracking \n"));
  EXPECT_EQ(count_lines(read_file(dir.file("imageoflrbb.dat"))), 72);
  ASSERT_TRUE(wait_for(c, "  i =         1500\n"));
  // Pushed out at the progress line: the records of turns 1000 to 1400 at least.
  EXPECT_GE(whole_records(read_file(dir.file("diff.dat")), kDiffRecord), 5);
  ::kill(c.pid, SIGTERM);
  EXPECT_EQ(finish(c), 143);
}

}  // namespace
}  // namespace e2e
