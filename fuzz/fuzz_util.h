// Scaffolding shared by the fuzz targets: a scratch folder per process,
// in-memory files for the standard streams, and a loud failure.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzz {

// A mismatch against a reference: report both sides and abort, so that
// libFuzzer saves the input as a crash.
[[noreturn]] inline void mismatch(const char* what, std::string_view got, std::string_view want) {
  std::fprintf(stderr, "MISMATCH in %s\n  got:  [%.*s]\n  want: [%.*s]\n", what,
               static_cast<int>(got.size()), got.data(), static_cast<int>(want.size()),
               want.data());
  std::abort();
}

inline void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "CHECK FAILED: %s\n", what);
    std::abort();
  }
}

// A scratch folder, made once per process and emptied between inputs.
class Scratch {
 public:
  Scratch() {
    const char* base = std::getenv("TMPDIR");
    path_ = std::string(base && *base ? base : "/tmp") + "/bbtrack-fuzz-XXXXXX";
    check(::mkdtemp(path_.data()) != nullptr, "mkdtemp");
  }
  ~Scratch() {
    clear();
    ::rmdir(path_.c_str());
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  const std::string& path() const { return path_; }
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

  // Removes every file of the folder.
  void clear() const {
    DIR* d = ::opendir(path_.c_str());
    if (!d) return;
    while (dirent* e = ::readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") ::unlink(file(n).c_str());
    }
    ::closedir(d);
  }

  void put(std::string_view name, std::string_view text) const {
    int fd = ::open(file(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    check(fd >= 0, "create input file");
    std::size_t done = 0;
    while (done < text.size()) {
      ssize_t r = ::write(fd, text.data() + done, text.size() - done);
      check(r > 0, "write input file");
      done += static_cast<std::size_t>(r);
    }
    ::close(fd);
  }

 private:
  std::string path_;
};

// An in-memory file standing in for a standard stream.
class MemFile {
 public:
  MemFile() : fd_(::memfd_create("fuzz-stream", MFD_CLOEXEC)) { check(fd_ >= 0, "memfd_create"); }
  ~MemFile() { ::close(fd_); }
  MemFile(const MemFile&) = delete;
  MemFile& operator=(const MemFile&) = delete;
  int fd() const { return fd_; }

  // Everything written so far; the file is emptied afterwards.
  std::string take() {
    std::string s;
    off_t end = ::lseek(fd_, 0, SEEK_END);
    s.resize(static_cast<std::size_t>(end));
    if (end > 0) check(::pread(fd_, s.data(), s.size(), 0) == end, "pread");
    check(::ftruncate(fd_, 0) == 0, "ftruncate");
    ::lseek(fd_, 0, SEEK_SET);
    return s;
  }

 private:
  int fd_;
};

}  // namespace fuzz
