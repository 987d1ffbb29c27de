// The study run's results folder and the merge of its shards: --resume
// names the option or input file that differs and goes on after a change
// of --quiet or --threads; a write that fails (a file-size limit standing
// in for a full disk) or a checkpoint that cannot be written leaves the last
// good checkpoint usable; the merge refuses its own shards as --out and
// shards of another ring, edited, cut short or odd; the folder is locked;
// special files are refused with one line; the messages say what is wrong.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "e2e/harness.h"
#include "e2e/inputs.h"

namespace e2e {
namespace {

using Files = std::map<std::string, std::string>;

// The study's result files in a folder (not the hidden ones).
Files results(const std::string& dir) {
  Files f;
  for (const auto& name : list_files(dir))
    if (name[0] != '.') f[name] = read_file(dir + "/" + name);
  return f;
}

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The program in `dir` with a limit on the size of any file it writes
// (SIGXFSZ ignored, so a write beyond it fails with EFBIG, as on a full disk).
RunResult run_limited(const std::string& dir, const std::vector<std::string>& args, rlim_t limit) {
  const std::string err_path = dir + "/.stderr";
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) _exit(127);
    const int e = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int o = ::open("/dev/null", O_WRONLY);
    ::dup2(o, 1);
    ::dup2(e, 2);
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit r{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &r);
    std::vector<std::string> a{BBTRACK_BINARY, "dynap"};
    a.insert(a.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : a) argv.push_back(s.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    _exit(127);
  }
  int ws = 0;
  ::waitpid(pid, &ws, 0);
  RunResult r;
  r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
  r.err = read_file(err_path);
  ::unlink(err_path.c_str());
  return r;
}

RunResult dynap(const std::string& dir, std::vector<std::string> args,
                const std::map<std::string, std::string>& env = {}) {
  args.insert(args.begin(), "dynap");
  return run_program_args(dir, args, env);
}

TEST(DynapFolder, ResumeNamesWhatDiffersAndAFailedWriteKeepsTheLastCheckpoint) {
  TempDir d;
  copy_inputs(example_dir(), d.path());
  // Four batches (3400 particles) of about 200 kB of rows each; a
  // checkpoint (signals of 4-turn windows) is about 400 kB.
  const std::vector<std::string> opts = {
      "--amplitudes", "0.5:17:0.5", "--angles",   "100", "--turns", "10", "--window", "4",
      "--tbt",        "3",          "--aperture", "11",  "--quiet"};
  auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> a = opts;
    a.insert(a.end(), more.begin(), more.end());
    return a;
  };
  std::vector<std::string> loud = with({"--out", "ref"});
  loud.erase(std::find(loud.begin(), loud.end(), "--quiet"));
  RunResult r = dynap(d.path(), loud);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.err, "3000 of 3400 particles tracked, ")) << r.err;
  EXPECT_TRUE(has(r.err, " left\n")) << r.err;  // the time left
  const Files ref = results(d.file("ref"));

  // The rows of the third batch pass the limit: the study ends with one
  // error line, and the checkpoints taken in that batch stay with the rows
  // they vouch for.
  r = run_limited(d.path(), with({"--out", "cut", "--checkpoint-interval", "0.0001"}), 500000);
  ASSERT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(has(r.err, "the last good checkpoint stays")) << r.err;
  EXPECT_TRUE(file_exists(d.file("cut/.dynap_checkpoint.0")));
  EXPECT_TRUE(results(d.file("cut")).empty());

  // Each change that decides a result is named; nothing is touched.
  const std::vector<std::pair<std::vector<std::string>, std::string>> changed = {
      {{"--turns", "12"}, "--turns"},
      {{"--window", "5"}, "--window"},
      {{"--aperture", "12"}, "--aperture"},
      {{"--threshold", "-4"}, "--threshold"},
      {{"--tbt", "2"}, "--tbt"},
      {{"--amplitudes", "0.5:17:0.25"}, "--amplitudes"},
      {{"--angles", "99"}, "--angles"},
      {{"--grid", "xy"}, "--grid"},
      {{"--shard", "1/2"}, "--shard"}};
  for (const auto& [more, name] : changed) {
    r = dynap(d.path(), with([&] {
                auto m = more;
                m.insert(m.end(), {"--out", "cut", "--resume"});
                return m;
              }()));
    EXPECT_EQ(r.status, 2) << name;
    EXPECT_TRUE(has(r.err, "another study: the option " + name + " differs")) << r.err;
  }
  r = dynap(d.path(), with({"--out", "cut", "--resume"}), {{"BBTRACK_ERRF", "fast"}});
  EXPECT_TRUE(has(r.err, "the option BBTRACK_ERRF differs (fast in this study")) << r.err;
  write_file(d.file("multipoles.dat"), "30 1 1.0e-3 0\n");
  r = dynap(d.path(), with({"--out", "cut", "--resume"}));
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r.err, "the input file multipoles.dat differs")) << r.err;
  ::unlink(d.file("multipoles.dat").c_str());

  // A checkpoint that cannot be written (a folder in the place of its
  // temporary file) ends the resumed study; the older ones stay usable.
  ::mkdir(d.file("cut/.dynap_checkpoint.0.tmp").c_str(), 0777);
  ::mkdir(d.file("cut/.dynap_checkpoint.1.tmp").c_str(), 0777);
  r = dynap(d.path(), with({"--out", "cut", "--resume", "--checkpoint-interval", "0.0001"}));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "is a folder, where the study keeps a file of its own")) << r.err;
  ::rmdir(d.file("cut/.dynap_checkpoint.0.tmp").c_str());
  ::rmdir(d.file("cut/.dynap_checkpoint.1.tmp").c_str());

  // Other --threads, no --quiet: it goes on, says where, and ends with
  // the bytes of the study never stopped.
  loud = with({"--out", "cut", "--resume", "--threads", "1"});
  loud.erase(std::find(loud.begin(), loud.end(), "--quiet"));
  r = dynap(d.path(), loud);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.err, "diff2wirenew: dynap: resumed at batch 3, turn ")) << r.err;
  EXPECT_TRUE(results(d.file("cut")) == ref);
  EXPECT_FALSE(file_exists(d.file("cut/.dynap_checkpoint.0")));
}

TEST(DynapFolder, MergeChecksWhatItMerges) {
  TempDir d;
  copy_inputs(example_dir(), d.path());
  const std::vector<std::string> opts = {"--amplitudes", "1:10:1", "--angles", "3",
                                         "--turns",      "30",     "--window", "10",
                                         "--tbt",        "12",     "--quiet"};
  auto run = [&](const std::string& dir, std::vector<std::string> more) {
    std::vector<std::string> a = opts;
    a.insert(a.end(), more.begin(), more.end());
    return dynap(dir, a);
  };
  ASSERT_EQ(run(d.path(), {"--out", "one"}).status, 0);
  for (const char* k : {"1", "2", "3"})
    ASSERT_EQ(
        run(d.path(), {"--shard", std::string(k) + "/3", "--out", std::string("s") + k}).status, 0);
  // A shard of another ring: another diff.input, and a multipoles.dat.
  const std::string other = d.file("other");
  ::mkdir(other.c_str(), 0777);
  copy_inputs(example_dir(), other);
  write_file(other + "/multipoles.dat", "30 1 1.0e-3 0\n");
  const std::string input = read_file(other + "/diff.input");
  const auto dnb = input.find('\n', input.find("dnb:")) + 1;
  write_file(other + "/diff.input",
             input.substr(0, dnb) + "-1.0E+11" + input.substr(input.find('\n', dnb)));
  ASSERT_EQ(run(other, {"--shard", "3/3", "--out", d.file("ring")}).status, 0);
  // An edited lost flag, a cut turn-by-turn record, a dynap.csv that is a folder.
  for (const char* copy : {"flag", "cut", "dir"})
    for (const auto& [name, text] : results(d.file(std::string(copy) == "cut" ? "s1" : "s2"))) {
      ::mkdir(d.file(copy).c_str(), 0777);
      write_file(d.file(std::string(copy) + "/" + name), text);
    }
  std::string flagged = read_file(d.file("flag/dynap.csv"));
  flagged.replace(flagged.find(",0,", flagged.find('\n')), 3, ",1,");
  write_file(d.file("flag/dynap.csv"), flagged);
  const std::string tbt = read_file(d.file("cut/dynap_tbt.csv"));
  write_file(d.file("cut/dynap_tbt.csv"), tbt.substr(0, tbt.size() - 7));
  ::unlink(d.file("dir/dynap.csv").c_str());
  ::mkdir(d.file("dir/dynap.csv").c_str(), 0777);

  auto merge = [&](const std::string& a, const std::string& b, const std::string& c,
                   const std::string& out) {
    return run(d.path(), {"--merge", a, "--merge", b, "--merge", c, "--out", out});
  };
  const std::vector<std::tuple<std::string, std::string, std::string, std::string>> bad = {
      {"s1", "s2", "ring",
       "shard 3/3 (ring): of another study than shard 1: the input file diff.input differs"},
      {"s1", "flag", "s3",
       "shard 2/3 (flag): dynap.csv is not the file the shard wrote: its hash differs"},
      {"cut", "s2", "s3", "shard 1/3 (cut): dynap_tbt.csv is not the file the shard wrote"},
      {"s1", "dir", "s3", "shard 2/3 (dir): dynap.csv is not a regular file (a folder)"}};
  for (const auto& [a, b, c, why] : bad) {
    const RunResult r = merge(a, b, c, "m");
    EXPECT_EQ(r.status, 1) << why;
    EXPECT_TRUE(has(r.err, "diff2wirenew: error: dynap: " + why)) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // one line each
    EXPECT_FALSE(file_exists(d.file("m/dynap.csv")));
  }
  // --out a shard's folder, reached through a link: refused, the shard intact.
  ASSERT_EQ(::symlink("s2", d.file("link").c_str()), 0);
  const Files s2 = results(d.file("s2"));
  RunResult r = merge("s1", "s2", "s3", "link/");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r.err, "is the folder of shard 2/3 (s2)")) << r.err;
  EXPECT_TRUE(results(d.file("s2")) == s2);
  r = merge("s1", "s2", "s3", "m");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(results(d.file("m")) == results(d.file("one")));
}

TEST(DynapFolder, LockSpecialFilesAndMessages) {
  TempDir d;
  copy_inputs(example_dir(), d.path());
  const std::vector<std::string> small = {"--amplitudes", "1:3:1", "--angles", "2", "--turns", "20",
                                          "--window",     "0",     "--quiet"};
  auto run = [&](std::vector<std::string> more) {
    std::vector<std::string> a = small;
    a.insert(a.end(), more.begin(), more.end());
    return dynap(d.path(), a);
  };
  ASSERT_EQ(run({"--out", "r"}).status, 0);
  // Another process holds the results folder: refused, its files kept.
  const int fd = ::open(d.file("r").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  RunResult r = run({"--out", "r"});
  ::close(fd);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r.err, "is writing in the results folder r")) << r.err;
  EXPECT_TRUE(file_exists(d.file("r/dynap.csv")));
  // A study that fails on its inputs leaves no earlier result behind.
  const std::string sigmas = read_file(d.file("Sigmas.dat"));
  ::unlink(d.file("Sigmas.dat").c_str());
  EXPECT_EQ(run({"--out", "r"}).status, 1);
  EXPECT_TRUE(results(d.file("r")).empty());
  write_file(d.file("Sigmas.dat"), sigmas);

  // Messages: every input in --help, an unknown last option, a dangling
  // --out link, too many threads.
  r = dynap(d.path(), {"--help"});
  EXPECT_TRUE(has(r.out, "multipoles.dat") && has(r.out, "modulation.dat")) << r.out;
  r = run({"--bogus"});
  EXPECT_TRUE(has(r.err, "unknown option '--bogus'")) << r.err;
  ASSERT_EQ(::symlink("gone", d.file("dangling").c_str()), 0);
  r = run({"--out", "dangling"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "dangling: it is a link to gone, which cannot be reached")) << r.err;
  r = run({"--threads", "20000", "--out", "t"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r.err, "a whole number from 1 to 1024")) << r.err;
  EXPECT_FALSE(file_exists(d.file("t")));

  // A stopped study (a file-size limit on its rows), then special files
  // where its checkpoints and partial rows belong: one line, no wait.
  const std::vector<std::string> big = {"--amplitudes", "0.5:17:0.5", "--angles", "100",
                                        "--turns",      "5",          "--window", "0",
                                        "--quiet",      "--out",      "c"};
  ASSERT_EQ(run_limited(
                d.path(),
                [&] {
                  auto a = big;
                  a.insert(a.end(), {"--checkpoint-interval", "0.0001"});
                  return a;
                }(),
                300000)
                .status,
            1);
  std::string rows = read_file(d.file("c/.dynap.csv.partial"));
  write_file(d.file("c/.dynap.csv.partial"), rows.substr(0, 1000));  // torn
  r = dynap(d.path(), [&] {
    auto a = big;
    a.push_back("--resume");
    return a;
  }());
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r.err, "(checkpoint ")) << r.err;
  EXPECT_TRUE(has(r.err, ".dynap.csv.partial is cut short: it holds 1000 bytes")) << r.err;
  ::unlink(d.file("c/.dynap_checkpoint.0").c_str());
  ASSERT_EQ(::mkfifo(d.file("c/.dynap_checkpoint.0").c_str(), 0666), 0);
  ::unlink(d.file("c/.dynap_checkpoint.1").c_str());
  ASSERT_EQ(::symlink("/dev/zero", d.file("c/.dynap_checkpoint.1").c_str()), 0);
  r = dynap(d.path(), [&] {
    auto a = big;
    a.push_back("--resume");
    return a;
  }());
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r.err,
                  ".dynap_checkpoint.0: not a regular file (a FIFO); "
                  ".dynap_checkpoint.1: not a regular file (a link to a device)"))
      << r.err;
  ::unlink(d.file("c/.dynap.csv.partial").c_str());
  ::mkdir(d.file("c/.dynap.csv.partial").c_str(), 0777);
  r = dynap(d.path(), big);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r.err, "c/.dynap.csv.partial: it is a folder")) << r.err;
}

}  // namespace
}  // namespace e2e
