// The opens of the program's own files: inputs read only from regular
// files, results emptied and never written through a symbolic link.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <new>
#include <string>

#include "textio/detail.h"

namespace textio {
namespace {

using detail::Stmt;
using detail::Unit;

const char* kind_of(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  return "not a regular file";
}

bool is_link(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// A result file with more than one name (a hard link: to an input, to
// another result, to a file of another folder) is replaced by a new, empty
// file under its name: created beside it and renamed over it, so the other
// names keep their contents. The new file's descriptor, or -1 with errno.
int replace_linked(const std::string& path) {
  std::string tmp = path + ".new-";
  char pid[24];
  auto r = std::to_chars(pid, pid + sizeof pid, static_cast<long>(::getpid()));
  tmp.append(pid, r.ptr);
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::close(fd);
    ::unlink(tmp.c_str());
    errno = err;
    return -1;
  }
  return fd;
}

}  // namespace

std::string Io::Impl::shown(std::string_view name) const {
  if (!name.empty() && name.front() == '/') return std::string(name);
  return std::string(name) + " in " + folder_of(opt.dir);
}

detail::Unit& Io::Impl::connect_input(int unit, std::string_view name, Loc loc) {
  constexpr Stmt kind = Stmt::Open;
  if (Unit* held = prepare(unit, name, kind, loc)) return *held;
  const std::string path = path_of(name);
  // Without O_NONBLOCK the open of a FIFO would wait for a writer.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    // A missing input is created empty, and its first read then fails; a
    // dangling link is left alone, so nothing is created where it points.
    fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST && is_link(path))
      refuse(shown(name) + " is a symbolic link to a file that does not exist; an input is "
                           "not created where a link points",
             1);
  }
  if (fd < 0) host_fail(errno, kind, unit, loc);
  struct stat st {};
  if (::fstat(fd, &st) != 0) host_fail(errno, kind, unit, loc);
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    std::string what = kind_of(st.st_mode);
    if (what != "not a regular file") what = "is " + what + ", not a regular file";
    refuse(shown(name) + " " + what + "; an input is read only from a plain file", 1);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return add(unit, name, fd, true, kind, loc);
}

detail::Unit& Io::Impl::connect_result(int unit, std::string_view name, Loc loc) {
  constexpr Stmt kind = Stmt::Open;
  if (Unit* held = prepare(unit, name, kind, loc)) return *held;
  const std::string path = path_of(name);
  struct stat sb {};
  int fd = -1;
  if (::lstat(path.c_str(), &sb) == 0 && S_ISREG(sb.st_mode) && sb.st_nlink > 1) {
    fd = replace_linked(path);
  } else {
    // O_NOFOLLOW: a link in the file's place is refused, never followed (it
    // could point outside the folder or at an input). O_NONBLOCK: a FIFO
    // without a reader fails at once instead of waiting.
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                0666);
  }
  if (fd < 0) {
    const int err = errno;
    if (err == ELOOP && is_link(path))
      refuse(shown(name) + " is a symbolic link; a result is never written through a link "
                           "(remove it, or run in another folder)",
             1);
    // The fatal message of an open names no file: say which one first.
    std::string what = "the result file " + shown(name);
    if (::lstat(path.c_str(), &sb) == 0 && !S_ISREG(sb.st_mode))
      what += std::string(" is ") + kind_of(sb.st_mode) + ", and";
    diagnose(what + " cannot be opened for writing (" + std::strerror(err) + ")");
    host_fail(err, kind, unit, loc);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return add(unit, name, fd, false, kind, loc);
}

void Io::open_input(int unit, std::string_view name, Loc loc) {
  try {
    impl_->connect_input(unit, name, loc);
  } catch (const std::bad_alloc&) {
    impl_->fail(210, "dynamic memory allocation failed", detail::Stmt::Open, unit, loc);
  }
}

void Io::open_result(int unit, std::string_view name, Loc loc) {
  try {
    impl_->connect_result(unit, name, loc);
  } catch (const std::bad_alloc&) {
    impl_->fail(210, "dynamic memory allocation failed", detail::Stmt::Open, unit, loc);
  }
}

}  // namespace textio
