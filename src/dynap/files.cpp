#include "dynap/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace bbtrack {
namespace {

constexpr std::size_t kFlushBytes = 1 << 20;

}  // namespace

std::string path_of(const std::string& dir, std::string_view name) {
  std::string p = dir;
  if (!p.empty() && p.back() != '/') p += '/';
  return p.append(name);
}

void fail_io(const std::string& what, const std::string& path) {
  const int err = errno;
  const std::string kind = kind_of(path);
  if (!kind.empty() && kind != "a link")
    throw DynapIoError("cannot " + what + " " + path + ": it is " + kind +
                       ", where the study keeps a file of its own: remove it");
  throw DynapIoError("cannot " + what + " " + path + ": " + std::strerror(err));
}

namespace {
[[noreturn]] void fail(const std::string& what, const std::string& path) { fail_io(what, path); }
}  // namespace

ResultFile::ResultFile(const std::string& dir, const std::string& name)
    : dir_(dir), name_(name), tmp_(path_of(dir, "." + name + ".partial")) {
  ::unlink(tmp_.c_str());  // left by a study that was killed
  fd_ = ::open(tmp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd_ < 0) fail("create", tmp_);
}

ResultFile::ResultFile(const std::string& dir, const std::string& name, std::uint64_t size,
                       std::uint64_t hash)
    : dir_(dir), name_(name), tmp_(path_of(dir, "." + name + ".partial")) {
  // O_NONBLOCK: a FIFO in its place is refused below, not waited on.
  fd_ = ::open(tmp_.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) fail("resume from", tmp_);
  struct stat sb;
  if (::fstat(fd_, &sb) != 0 || !S_ISREG(sb.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw DynapIoError("cannot resume from " + tmp_ + ": it is not a regular file");
  }
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
  std::string b(1 << 16, '\0');
  while (size_ < size) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(b.size(), size - size_));
    const ssize_t n = ::read(fd_, b.data(), want);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    hash_ = fnv1a(hash_, std::string_view(b.data(), static_cast<std::size_t>(n)));
    size_ += static_cast<std::uint64_t>(n);
  }
  if (size_ != size || hash_ != hash) {
    ::close(fd_);
    fd_ = -1;
    if (size_ < size)
      throw DynapIoError(tmp_ + " is cut short: it holds " + std::to_string(size_) +
                         " bytes, the checkpoint records " + std::to_string(size));
    throw DynapIoError(tmp_ + " differs from the rows the checkpoint records (other hash)");
  }
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0 ||
      ::lseek(fd_, static_cast<off_t>(size), SEEK_SET) < 0)
    fail("resume from", tmp_);
}

void ResultFile::sync() {
  flush();
  if (::fsync(fd_) != 0) fail("write", tmp_);
}

void ResultFile::keep() {
  flush();
  ::close(fd_);
  fd_ = -1;
}

void ResultFile::leave() {
  buf_.clear();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

ResultFile::~ResultFile() {
  if (fd_ >= 0) {
    ::close(fd_);
    ::unlink(tmp_.c_str());
  }
}

void ResultFile::put(std::string_view text) {
  buf_ += text;
  size_ += text.size();
  hash_ = fnv1a(hash_, text);
  if (buf_.size() >= kFlushBytes) flush();
}

void ResultFile::flush() {
  std::string_view rest = buf_;
  while (!rest.empty()) {
    const ssize_t n = ::write(fd_, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail("write", tmp_);
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
  buf_.clear();
}

void ResultFile::commit() {
  flush();
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    ::unlink(tmp_.c_str());
    fail("write", tmp_);
  }
  const std::string to = path_of(dir_, name_);
  if (::rename(tmp_.c_str(), to.c_str()) != 0) {
    ::unlink(tmp_.c_str());
    fail("write", to);
  }
}

void make_results_folder(const std::string& dir) {
  struct stat sb;
  if (::lstat(dir.c_str(), &sb) == 0 && S_ISLNK(sb.st_mode) && ::stat(dir.c_str(), &sb) != 0) {
    const int err = errno;
    char to[4096];
    const ssize_t n = ::readlink(dir.c_str(), to, sizeof to - 1);
    throw DynapIoError("cannot use the results folder " + dir + ": it is a link to " +
                       (n > 0 ? std::string(to, static_cast<std::size_t>(n)) : std::string("?")) +
                       ", which cannot be reached (" + std::strerror(err) + ")");
  }
  if (::stat(dir.c_str(), &sb) == 0) {
    if (!S_ISDIR(sb.st_mode)) {
      errno = ENOTDIR;
      fail("use the results folder", dir);
    }
    return;
  }
  if (::mkdir(dir.c_str(), 0777) != 0) fail("create the results folder", dir);
}

void remove_result(const std::string& dir, const std::string& name) {
  const std::string p = path_of(dir, name);
  if (::unlink(p.c_str()) != 0 && errno != ENOENT) fail("remove the earlier result", p);
}

namespace {
std::string kind_of_mode(mode_t m) {
  if (S_ISDIR(m)) return "a folder";
  if (S_ISFIFO(m)) return "a FIFO";
  if (S_ISCHR(m) || S_ISBLK(m)) return "a device";
  if (S_ISSOCK(m)) return "a socket";
  return "";
}
}  // namespace

std::string kind_of(const std::string& path) {
  struct stat sb;
  if (::lstat(path.c_str(), &sb) != 0) return "";
  if (!S_ISLNK(sb.st_mode)) return kind_of_mode(sb.st_mode);
  if (::stat(path.c_str(), &sb) != 0) return "a link";
  const std::string to = kind_of_mode(sb.st_mode);
  return to.empty() ? "a link" : "a link to " + to;
}

bool read_regular(const std::string& path, std::uint64_t limit, std::string& out,
                  std::string& why) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    why = errno == ENOENT ? "none" : std::string("cannot be opened (") + std::strerror(errno) + ")";
    return false;
  }
  struct stat sb;
  if (::fstat(fd, &sb) != 0 || !S_ISREG(sb.st_mode)) {
    const std::string kind = kind_of(path);
    ::close(fd);
    why = "not a regular file (" + (kind.empty() ? std::string("a special file") : kind) + ")";
    return false;
  }
  if (static_cast<std::uint64_t>(sb.st_size) > limit) {
    ::close(fd);
    why = "larger than " + std::to_string(limit) + " bytes";
    return false;
  }
  out.resize(static_cast<std::size_t>(sb.st_size));
  std::size_t got = 0;
  while (got < out.size()) {
    const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      why = std::string("cannot be read (") + std::strerror(errno) + ")";
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  out.resize(got);
  ::close(fd);
  return true;
}

void put_csv(std::string& out, double v) {
  if (std::isnan(v)) return;
  if (std::isinf(v)) {
    out += v < 0 ? "-inf" : "inf";
    return;
  }
  char b[32];
  const auto r = std::to_chars(b, b + sizeof b, v);
  out.append(b, r.ptr);
}

void put_csv(std::string& out, long long v) {
  char b[24];
  const auto r = std::to_chars(b, b + sizeof b, v);
  out.append(b, r.ptr);
}

}  // namespace bbtrack
