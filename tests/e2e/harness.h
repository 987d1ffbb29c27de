// End-to-end harness: runs the real program (and the independent reference
// model) in fresh temporary folders and reads back what they left.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace e2e {

struct RunResult {
  int status = -1;  // exit status, or -1 if killed by a signal
  std::string out;  // standard output
  std::string err;  // standard error
};

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string read_file(const std::string& path);
bool file_exists(const std::string& path);
void write_file(const std::string& path, const std::string& text);
// Names of the regular files in a folder, sorted.
std::vector<std::string> list_files(const std::string& dir);
// Copies every regular file of the bundled example (or another input set).
void copy_inputs(const std::string& from_dir, const std::string& to_dir);
std::string example_dir();  // the bundled example ring

// Runs the program with the folder as its working directory; extra
// environment settings are added to (or, with an empty value and a leading
// '-', removed from) the inherited environment.
RunResult run_program(const std::string& dir, const std::map<std::string, std::string>& env = {});
// The same with command-line arguments.
RunResult run_program_args(const std::string& dir, const std::vector<std::string>& args);
RunResult run_program_args(const std::string& dir, const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& env);
// Runs the independent reference model on the inputs of a folder; its
// standard output and exit status are in stdout.txt and status.txt.
RunResult run_refmodel(const std::string& dir);

// Replaces line `line` (1-based) of a text.
std::string replace_line(const std::string& text, int line, const std::string& with);
int count_lines(const std::string& text);
std::vector<std::string> split_lines(const std::string& text);

// Masks the source position of the third line of a fatal message, and the
// run folder named by a missing-file line ("... does not exist in DIR").
std::string mask_source_line(const std::string& err);

}  // namespace e2e
