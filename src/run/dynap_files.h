// The result files of the study run: each is written under a temporary
// name in the results folder and renamed into place once complete, so that
// a study that fails leaves no partial or stale result behind, and no file
// is ever written through a link.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace bbtrack {

// An input or output failure of the study's own files (exit status 1).
struct DynapIoError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class ResultFile {
 public:
  ResultFile(const std::string& dir, const std::string& name);
  ~ResultFile();  // removes the temporary file unless committed
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;

  void put(std::string_view text);
  // Writes out what is buffered (a batch's rows are on disk when it ends).
  void flush();
  // Flushes, closes and renames the file to its name.
  void commit();

 private:
  std::string dir_, name_, tmp_;
  std::string buf_;
  int fd_ = -1;
};

// The results folder, created when missing (one level).
void make_results_folder(const std::string& dir);
// Removes a result of an earlier study (a link is removed, not followed).
void remove_result(const std::string& dir, const std::string& name);

// A CSV field: the shortest text that reads back as the same double;
// empty for NaN, "inf" / "-inf" for infinities.
void put_csv(std::string& out, double v);
void put_csv(std::string& out, long long v);

}  // namespace bbtrack
