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
// Every result file of a run by name, of this option or another.
constexpr UnitFile kResults[] = {kImageFile,      kFreqMapFile,   kDiffFile, kSummaryFile,
                                 kPhaseSpaceFile, kFootprintFile, kTestFile};

constexpr auto kImageRecord = textio::fixed_format<"(I5,9(1X,F10.4))">;

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

// Whether the file of unit 20 would be one of `files`: the same file
// (through any name or link), or, while missing, the name one has in the
// run folder.
template <std::size_t N>
const char* file_named_by(textio::Io& io, const std::string& name, const UnitFile (&files)[N]) {
  const std::string path = io.path(name);
  struct stat target {};
  const bool exists = ::stat(path.c_str(), &target) == 0;
  const std::string folder = resolved_folder(path);
  const std::string base = last_component(path);
  for (const UnitFile& in : files) {
    const std::string in_path = io.path(in.name);
    struct stat st {};
    if (exists && ::stat(in_path.c_str(), &st) == 0 && st.st_dev == target.st_dev &&
        st.st_ino == target.st_ino)
      return in.name;
    if (!folder.empty() && base == in.name && folder == resolved_folder(in_path)) return in.name;
  }
  return nullptr;
}

[[noreturn]] void refuse_unit20(textio::Io& io, const std::string& unit20, const char* what,
                                const char* file) {
  error(io, "unit 20 would write its records to " + unit20 + ", which is the " + what + " " + file +
                "; set FOR020 to another file");
  io.finish();
  throw textio::Exit{kExitRefused};
}

// imageoflrbb.dat: the image of each encounter's separation that the
// reading of Sigmas.dat computed, pushed out at once.
void write_image(const State& st, textio::Io& io) {
  const auto& r = st.image.rec;
  for (int32 k = 1; k <= st.image.n; ++k)
    io.write(kImageFile.unit, kImageRecord,
             {k, r(k, 1), r(k, 2), r(k, 3), r(k, 4), r(k, 5), r(k, 6), r(k, 7), r(k, 8), r(k, 9)});
  io.flush(kImageFile.unit);
}

}  // namespace

void open_results(const State& st, textio::Io& io) {
  const RunOption& option = run_option(st.readin1.iopt);
  // Options 2 and 3 write their diffusion records to unit 20's default
  // file; refused, before any result file is opened, when it is an input
  // or a result file of a run.
  const std::string unit20 = io.default_name(kDiffFile.unit);
  if (option.unit20) {
    if (const char* input = file_named_by(io, unit20, kInputs))
      refuse_unit20(io, unit20, "input file", input);
    if (const char* result = file_named_by(io, unit20, kResults))
      refuse_unit20(io, unit20, "result file", result);
  }
  UnitFile files[7];
  int n = 0;
  files[n++] = kImageFile;
  files[n++] = kTestFile;
  // frequencymap.dat shares its unit with imageoflrbb.dat, which it closes.
  for (int i = 0; i < option.nresults; ++i) files[n++] = option.results[i];
  if (option.unit20) files[n++] = {kDiffFile.unit, unit20.c_str()};
  // A file that may be refused (a link, a directory, one the user may not
  // write) or that is replaced by a new file (a hard link) is opened first,
  // so that a refused run has emptied none of the others.
  for (int i = 0; i < n; ++i) {
    const std::string path = io.path(files[i].name);
    struct stat sb {};
    if (::lstat(path.c_str(), &sb) == 0 &&
        (!S_ISREG(sb.st_mode) || sb.st_nlink > 1 || ::access(path.c_str(), W_OK) != 0))
      io.open_result(files[i].unit, files[i].name);
  }
  for (int i = 0; i < n; ++i) {
    io.open_result(files[i].unit, files[i].name);
    if (i == 0) write_image(st, io);
  }
  // Here, with the files emptied, a stop leaves no earlier run's results.
  stop_if_signalled_before_tracking(io);
}

}  // namespace bbtrack
