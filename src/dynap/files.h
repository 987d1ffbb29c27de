// The result files of the study run: each is written under a temporary
// name in the results folder and renamed into place once complete, so that
// a study that fails leaves no partial or stale result behind, and no file
// is ever written through a link.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace bbtrack {

// An input or output failure of the study's own files (exit status 1).
struct DynapIoError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A study that must not go on: a folder locked by another study, a merge
// into a shard's folder, a resume without a valid checkpoint (exit status 2).
struct DynapRefusal : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Throws DynapIoError "cannot WHAT PATH: ...", naming a folder or special
// file found in the place of the study's own file, else the errno's text.
[[noreturn]] void fail_io(const std::string& what, const std::string& path);

// The path of file `name` in folder `dir` (the folder itself when empty:
// the current one).
std::string path_of(const std::string& dir, std::string_view name);

// FNV-1a, 64 bits, over bytes: the checksum of checkpoints and of the
// rows a checkpoint vouches for.
inline constexpr std::uint64_t kFnvBasis = 14695981039346656037ull;
inline std::uint64_t fnv1a(std::uint64_t h, std::string_view bytes) {
  for (const unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return h;
}

class ResultFile {
 public:
  ResultFile(const std::string& dir, const std::string& name);
  // Takes up the temporary file a stopped study left, cut back to its
  // first `size` bytes, whose FNV-1a hash must be `hash`; throws
  // DynapIoError when it is missing, shorter or other.
  ResultFile(const std::string& dir, const std::string& name, std::uint64_t size,
             std::uint64_t hash);
  ~ResultFile();  // removes the temporary file unless committed
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;

  void put(std::string_view text);
  // Writes out what is buffered (a batch's rows are on disk when it ends).
  void flush();
  // Flushes, closes and renames the file to its name.
  void commit();
  // Flushes and forces to disk; the bytes written so far and their hash.
  void sync();
  std::uint64_t size() const { return size_; }
  std::uint64_t hash() const { return hash_; }
  // Closes and keeps the temporary file (for a study that resumes).
  void keep();
  // Closes and keeps the temporary file as it is, without writing what is
  // buffered (a write has failed; a resume cuts it back).
  void leave();

 private:
  std::string dir_, name_, tmp_;
  std::string buf_;
  int fd_ = -1;
  std::uint64_t size_ = 0, hash_ = kFnvBasis;
};

// The results folder, created when missing (one level); a link to a
// missing folder is named as such.
void make_results_folder(const std::string& dir);

// Reads a regular file whole, as the run's inputs are read: a FIFO, a
// device or a folder is not opened for reading (O_NONBLOCK: no wait on a
// FIFO), and no more than `limit` bytes are taken. False with `why`:
// "none" when it does not exist, else what is wrong with it.
bool read_regular(const std::string& path, std::uint64_t limit, std::string& out,
                  std::string& why);

// "a folder", "a FIFO", "a device", "a socket", "a link" or "" (a regular
// file, or nothing there).
std::string kind_of(const std::string& path);
// Removes a result of an earlier study (a link is removed, not followed).
void remove_result(const std::string& dir, const std::string& name);

// A CSV field: the shortest text that reads back as the same double;
// empty for NaN, "inf" / "-inf" for infinities.
void put_csv(std::string& out, double v);
void put_csv(std::string& out, long long v);

}  // namespace bbtrack
