#include "e2e/harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace e2e {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/bbtrack-e2e-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() {
  if (std::getenv("BBTRACK_KEEP_TMP")) return;
  std::string cmd = "rm -rf '" + path_ + "'";
  [[maybe_unused]] int rc = std::system(cmd.c_str());
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool file_exists(const std::string& path) {
  struct stat sb;
  return ::stat(path.c_str(), &sb) == 0;
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << text;
}

std::vector<std::string> list_files(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string n = e->d_name;
      struct stat sb;
      if (::stat((dir + "/" + n).c_str(), &sb) == 0 && S_ISREG(sb.st_mode)) names.push_back(n);
    }
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void copy_inputs(const std::string& from_dir, const std::string& to_dir) {
  for (const auto& n : list_files(from_dir)) {
    if (n == "README.md") continue;
    write_file(to_dir + "/" + n, read_file(from_dir + "/" + n));
  }
}

std::string example_dir() { return std::string(BBTRACK_SOURCE_DIR) + "/examples/ring"; }

namespace {

RunResult run(const std::string& dir, const std::vector<std::string>& argv,
              const std::map<std::string, std::string>& env) {
  const std::string out_path = dir + "/.stdout";
  const std::string err_path = dir + "/.stderr";
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) _exit(127);
    int o = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int in = ::open("/dev/null", O_RDONLY);
    ::dup2(o, 1);
    ::dup2(e, 2);
    ::dup2(in, 0);
    for (const auto& [k, v] : env) {
      if (!k.empty() && k[0] == '-')
        ::unsetenv(k.c_str() + 1);
      else
        ::setenv(k.c_str(), v.c_str(), 1);
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    _exit(127);
  }
  int ws = 0;
  ::waitpid(pid, &ws, 0);
  RunResult r;
  r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
  r.out = read_file(out_path);
  r.err = read_file(err_path);
  ::unlink(out_path.c_str());
  ::unlink(err_path.c_str());
  return r;
}

}  // namespace

RunResult run_program(const std::string& dir, const std::map<std::string, std::string>& env) {
  std::map<std::string, std::string> e = env;
  if (!e.count("NO_STOP_MESSAGE") && !e.count("-NO_STOP_MESSAGE")) e["-NO_STOP_MESSAGE"] = "";
  return run(dir, {BBTRACK_BINARY}, e);
}

RunResult run_program_args(const std::string& dir, const std::vector<std::string>& args) {
  std::vector<std::string> argv{BBTRACK_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(dir, argv, {{"-NO_STOP_MESSAGE", ""}});
}

RunResult run_program_args(const std::string& dir, const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& env) {
  std::vector<std::string> argv{BBTRACK_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  std::map<std::string, std::string> e = env;
  e["-NO_STOP_MESSAGE"] = "";
  return run(dir, argv, e);
}

RunResult run_refmodel(const std::string& dir) {
  const std::string model = std::string(BBTRACK_SOURCE_DIR) + "/tests/e2e/refmodel/refmodel.py";
  RunResult r = run(dir, {"python3", model, dir}, {{"-NO_STOP_MESSAGE", ""}});
  RunResult m;
  m.out = read_file(dir + "/stdout.txt");
  m.err = read_file(dir + "/stderr.txt");
  const std::string st = read_file(dir + "/status.txt");
  m.status = st.empty() ? -1 : std::atoi(st.c_str());
  if (r.status != 0) m.err += "\n[reference model failed: " + r.err + "]";
  ::unlink((dir + "/stdout.txt").c_str());
  ::unlink((dir + "/stderr.txt").c_str());
  ::unlink((dir + "/status.txt").c_str());
  return m;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string cur;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

int count_lines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

std::string replace_line(const std::string& text, int line, const std::string& with) {
  auto lines = split_lines(text);
  lines.at(static_cast<size_t>(line - 1)) = with;
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

std::string mask_source_line(const std::string& err) {
  static const std::regex re(" In source file [^,]*, at line number [0-9]+");
  static const std::regex folder("( does not exist in )[^\n,]*");
  return std::regex_replace(
      std::regex_replace(err, re, " In source file SOURCE, at line number LINE"), folder, "$1DIR");
}

}  // namespace e2e
