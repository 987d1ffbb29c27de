// The program as a person meets it: exit statuses, the command line, the
// lines naming missing inputs and short runs, progress that can be followed
// and a run stopped by a signal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "e2e/compare.h"
#include "e2e/inputs.h"

namespace e2e {
namespace {

Inputs ring(const DiffInput& d) {
  return {{"diff.input", d.text()},
          {"Matrices.dat", ring_matrices(0.67, 0.68, 80.0, 60.0)},
          {"Sigmas.dat", uniform_sigmas(0.2, 0.17, 0.9, -0.4)},
          {"excluded.dat", ""}};
}

void write_inputs(const TempDir& dir, const Inputs& in) {
  for (const auto& [name, text] : in) write_file(dir.file(name), text);
}

std::string first_line(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

TEST(Program, ExitStatuses) {
  TempDir results;
  write_inputs(results, ring(DiffInput().set(kNtrack, "2")));
  EXPECT_EQ(run_program(results.path()).status, 0);

  TempDir empty;
  const RunResult io_error = run_program(empty.path());
  EXPECT_EQ(io_error.status, 1);

  TempDir limit;
  write_inputs(limit, ring(DiffInput().set(kIopt, "2").set(kNtrack, "5000")));
  const RunResult refused_run = run_program(limit.path());
  EXPECT_EQ(refused_run.status, 2);
  EXPECT_EQ(refused_run.err,
            "diff2wirenew: error: ntrack = 5000, but option 2 stores at most 4096 turns: the run "
            "stops before tracking and writes no results\nFORTRAN STOP\n");
  EXPECT_TRUE(refused_run.out.ends_with(" ntrack>ntmapm - abunai! \n"));

  const RunResult refused_arg = run_program_args(empty.path(), {"--frobnicate"});
  EXPECT_EQ(refused_arg.status, 2);
  EXPECT_EQ(refused_arg.out, "");
  EXPECT_EQ(first_line(refused_arg.err),
            "diff2wirenew: error: unknown argument '--frobnicate'; a run takes no arguments");
  EXPECT_NE(refused_arg.err.find("Usage: diff2wirenew"), std::string::npos);
}

// Contents and modification times of every file of a folder.
std::map<std::string, std::pair<std::string, long long>> snapshot(const TempDir& dir) {
  std::map<std::string, std::pair<std::string, long long>> s;
  for (const auto& n : list_files(dir.path())) {
    struct stat sb {};
    ::stat(dir.file(n).c_str(), &sb);
    s[n] = {read_file(dir.file(n)), sb.st_mtim.tv_sec * 1000000000LL + sb.st_mtim.tv_nsec};
  }
  return s;
}

TEST(Program, HelpVersionAndRefusedArgumentsLeaveTheResultsAlone) {
  TempDir dir;
  write_inputs(dir, ring(DiffInput().set(kNtrack, "2")));
  ASSERT_EQ(run_program(dir.path()).status, 0);
  const auto before = snapshot(dir);
  ASSERT_TRUE(before.count("resav.out"));

  for (const char* h : {"--help", "-h"}) {
    const RunResult help = run_program_args(dir.path(), {h});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    for (const char* word : {"Usage: diff2wirenew", "diff.input", "OMP_NUM_THREADS",
                             "BBTRACK_SCALAR", "FOR020", "NO_STOP_MESSAGE", "128 + n"})
      EXPECT_NE(help.out.find(word), std::string::npos) << word;
  }
  const RunResult version = run_program_args(dir.path(), {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(version.out.starts_with("diff2wirenew (bbtrack) ")) << version.out;
  EXPECT_EQ(run_program_args(dir.path(), {"--help", "extra"}).status, 2);
  EXPECT_EQ(run_program_args(dir.path(), {"results"}).status, 2);
  EXPECT_EQ(snapshot(dir), before);
}

// Each input whose absence ends the run is named with the folder before the
// fatal message of its first read, and is still created empty; a missing
// excluded.dat, which the run allows, is a warning.
TEST(Program, MissingInputFilesAreNamed) {
  const std::map<std::string, std::string> fatal = {
      {"diff.input", "RTFIO-F-217/formatted read/unit=440/"},
      {"Matrices.dat", "RTFIO-F-217/list-directed read/unit=450/"},
      {"Sigmas.dat", "RTFIO-F-217/list-directed read/unit=460/"},
      {"multdist.dat", "RTFIO-F-217/list-directed read/unit=25/"}};
  for (const auto& [name, message] : fatal) {
    SCOPED_TRACE(name);
    Inputs in = ring(DiffInput().set(kItrip, "1").set(kNtrack, "0"));
    in.erase(name);
    const Both b = run_both(in);
    expect_same(b);
    EXPECT_EQ(b.prog.status, 1);
    const auto lines = split_lines(mask_source_line(b.prog.err));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[lines.size() - 4], "diff2wirenew: error: " + name + " does not exist in DIR");
    EXPECT_TRUE(lines[lines.size() - 3].starts_with(message)) << lines[lines.size() - 3];
    EXPECT_EQ(b.prog_files.at(name), "");
  }
  Inputs in = ring(DiffInput().set(kNtrack, "0"));
  in.erase("excluded.dat");
  TempDir dir;
  write_inputs(dir, in);
  const RunResult r = run_program(dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(first_line(r.err), "diff2wirenew: warning: excluded.dat does not exist in " +
                                   dir.path() + ", so no encounter is excluded");
}

// Diffusion runs whose rates are undefined or measured over less than 1000
// turns say so; the result files stay as they are. Two kicks per turn keep
// the runs short.
TEST(Program, ShortDiffusionRunsAreNamed) {
  struct Case {
    const char* ntrack;
    int records;  // of diff.dat
    const char* warning;
  };
  const Case cases[] = {
      {"999", 0,
       "ntrack = 999 gives no diffusion rates: the running average of the action spread starts "
       "at turn 1000, so the rates in resav.out are not defined (0 or nan) and diff.dat holds 0 "
       "records; a rate needs ntrack >= 2000"},
      {"1000", 1,
       "ntrack = 1000 gives no diffusion rates: the running average of the action spread starts "
       "at turn 1000, so the rates in resav.out are not defined (0 or nan) and diff.dat holds 1 "
       "record; a rate needs ntrack >= 2000"},
      {"1100", 2,
       "ntrack = 1100 measures the diffusion rates in resav.out over 100 turns after the running "
       "average starts at turn 1000 (diff.dat holds 2 records); a rate needs ntrack >= 2000"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ntrack);
    Inputs in = ring(DiffInput().set(kNtrack, c.ntrack));
    in["excluded.dat"] = exclude_all_but({1, 2});
    TempDir dir;
    write_inputs(dir, in);
    const RunResult r = run_program(dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, std::string("diff2wirenew: warning: ") + c.warning + "\n");
    EXPECT_EQ(count_lines(read_file(dir.file("diff.dat"))), c.records);
  }
}

// The program started in a folder with its standard output on a pipe.
struct Live {
  pid_t pid = -1;
  int out = -1;
  std::string seen;
};

Live start(const TempDir& dir) {
  int p[2];
  if (::pipe(p) != 0) std::abort();
  Live l;
  l.pid = ::fork();
  if (l.pid == 0) {
    if (::chdir(dir.path().c_str()) != 0) _exit(127);
    ::dup2(p[1], 1);
    ::close(p[0]);
    ::close(p[1]);
    const std::string err = dir.file(".stderr");
    if (!std::freopen(err.c_str(), "w", stderr)) _exit(127);
    ::unsetenv("NO_STOP_MESSAGE");
    ::execl(BBTRACK_BINARY, BBTRACK_BINARY, static_cast<char*>(nullptr));
    _exit(127);
  }
  ::close(p[1]);
  l.out = p[0];
  return l;
}

// Reads the pipe until `text` has arrived (false at its end).
bool wait_for(Live& l, const std::string& text) {
  char buf[4096];
  while (l.seen.find(text) == std::string::npos) {
    const ssize_t n = ::read(l.out, buf, sizeof buf);
    if (n <= 0) return false;
    l.seen.append(buf, static_cast<std::size_t>(n));
  }
  return true;
}

// A long diffusion run: its progress lines arrive on a pipe while it runs;
// stopped by SIGTERM, it ends with status 143 after the turn it was in and
// keeps every record of diff.dat up to that turn, the same bytes as a run
// of exactly that many turns.
TEST(Program, ProgressOnAPipeAndAStopBySigterm) {
  Inputs in = ring(DiffInput().set(kNtrack, "200000"));
  in["excluded.dat"] = exclude_all_but({1, 2});
  TempDir dir;
  write_inputs(dir, in);
  Live l = start(dir);
  ASSERT_TRUE(wait_for(l, "  start tracking \n"));
  ASSERT_TRUE(wait_for(l, "  i =         1500\n"));
  int ws = 0;
  EXPECT_EQ(::waitpid(l.pid, &ws, WNOHANG), 0);  // the line came while the run goes on
  ::kill(l.pid, SIGTERM);
  wait_for(l, "\x01");  // the rest, to the end of the pipe
  ::close(l.out);
  ::waitpid(l.pid, &ws, 0);
  ASSERT_TRUE(WIFEXITED(ws));
  EXPECT_EQ(WEXITSTATUS(ws), 143);

  const std::string err = read_file(dir.file(".stderr"));
  const std::string head = "diff2wirenew: error: stopped by SIGTERM (signal 15) after turn ";
  ASSERT_TRUE(err.starts_with(head)) << err;
  const std::string turn = err.substr(head.size(), err.find(' ', head.size()) - head.size());
  EXPECT_GE(std::stoi(turn), 1500);
  EXPECT_EQ(count_lines(err), 1);
  const std::string stopped = read_file(dir.file("diff.dat"));
  EXPECT_GE(count_lines(stopped), 6);

  in["diff.input"] = DiffInput().set(kNtrack, turn).text();
  TempDir whole;
  write_inputs(whole, in);
  ASSERT_EQ(run_program(whole.path()).status, 0);
  EXPECT_EQ(stopped, read_file(whole.file("diff.dat")));
}

}  // namespace
}  // namespace e2e
