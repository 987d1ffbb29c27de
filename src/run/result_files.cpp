#include "run/result_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "run/command_line.h"
#include "run/messages.h"
#include "run/run_options.h"
#include "run/stop_signals.h"
#include "run/unit_numbers.h"

namespace bbtrack {
namespace {

// Every input file of the program, read or not in this run.
constexpr UnitFile kInputs[] = {kParamsFile,         kMatricesFile,   kSigmasFile,
                                kExcludedFile,       kMultipolesFile, kWiresFile,
                                kThinMultipolesFile, kModulationFile};

// The folder of a path and its last component, the folder resolved through
// every link ("" when it does not exist).
std::string resolved_folder(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  char* real = ::realpath(dir.c_str(), nullptr);
  if (real == nullptr) return {};
  std::string r = real;
  std::free(real);
  return r;
}

std::string last_component(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Whether the file of unit 20 would be one of the inputs: the same file
// (through any name or link), or, while missing, the name an input has in
// the run folder.
const char* input_named_by(textio::Io& io, const std::string& name) {
  const std::string path = io.path(name);
  struct stat target {};
  const bool exists = ::stat(path.c_str(), &target) == 0;
  const std::string folder = resolved_folder(path);
  const std::string base = last_component(path);
  for (const UnitFile& in : kInputs) {
    const std::string in_path = io.path(in.name);
    struct stat st {};
    if (exists && ::stat(in_path.c_str(), &st) == 0 && st.st_dev == target.st_dev &&
        st.st_ino == target.st_ino)
      return in.name;
    if (!folder.empty() && base == in.name && folder == resolved_folder(in_path)) return in.name;
  }
  return nullptr;
}

}  // namespace

void open_results(const State& st, textio::Io& io) {
  const RunOption& option = run_option(st.readin1.iopt);
  // Options 2 and 3 write their diffusion records to unit 20's default
  // file; refused, before any result file is opened, when it is an input.
  const std::string unit20 = io.default_name(kDiffFile.unit);
  if (option.unit20) {
    if (const char* input = input_named_by(io, unit20)) {
      error(io, "unit 20 would write its records to " + unit20 + ", which is the input file " +
                    input + "; set FOR020 to another file");
      io.finish();
      throw textio::Exit{kExitRefused};
    }
  }
  UnitFile files[6];
  int n = 0;
  files[n++] = kTestFile;
  // frequencymap.dat shares its unit with imageoflrbb.dat, which it closes.
  for (int i = 0; i < option.nresults; ++i) files[n++] = option.results[i];
  if (option.unit20) files[n++] = {kDiffFile.unit, unit20.c_str()};
  // A file that may be refused (a link, a directory, one the user may not
  // write) is opened first, so that a refused run has emptied none of the
  // others.
  for (int i = 0; i < n; ++i) {
    const std::string path = io.path(files[i].name);
    struct stat sb {};
    if (::lstat(path.c_str(), &sb) == 0 &&
        (!S_ISREG(sb.st_mode) || ::access(path.c_str(), W_OK) != 0))
      io.open_result(files[i].unit, files[i].name);
  }
  for (int i = 0; i < n; ++i) io.open_result(files[i].unit, files[i].name);
  // Here, with the files emptied, a stop leaves no earlier run's results.
  stop_if_signalled_before_tracking(io);
}

}  // namespace bbtrack
