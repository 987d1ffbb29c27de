#include "run/run_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>

#include "run/command_line.h"
#include "run/messages.h"

namespace bbtrack {
namespace {

// A number of /proc/locks, in the given base; false unless the whole text is one.
template <class T>
bool parse(std::string_view text, T& v, int base) {
  auto r = std::from_chars(text.data(), text.data() + text.size(), v, base);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

}  // namespace

// /proc/locks lists "1: FLOCK  ADVISORY  WRITE 4242 08:01:1234 0 EOF",
// device numbers in hexadecimal.
long lock_holder(dev_t dev, ino_t ino) {
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream f(line);
    std::string ordinal, type, mode, access, pid, id;
    f >> ordinal >> type;
    if (type != "FLOCK") continue;  // a waiter ("->") or another kind of lock
    f >> mode >> access >> pid >> id;
    const std::string_view v = id;
    const std::size_t a = v.find(':'), b = v.find(':', a + 1);
    if (a == std::string_view::npos || b == std::string_view::npos) continue;
    unsigned maj = 0, min = 0;
    unsigned long long node = 0;
    long holder = 0;
    if (!parse(v.substr(0, a), maj, 16) || !parse(v.substr(a + 1, b - a - 1), min, 16) ||
        !parse(v.substr(b + 1), node, 10) || !parse(pid, holder, 10))
      continue;
    if (maj == major(dev) && min == minor(dev) && node == static_cast<unsigned long long>(ino))
      return holder;
  }
  return 0;
}

void open_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open gives the lowest free descriptor, which is this one.
    const int got = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (got >= 0 && got != fd) ::close(got);
  }
}

void lock_run_folder(textio::Io& io) {
  const std::string folder = io.folder();
  // Kept open (and so locked) until the process ends; not passed on to
  // programs it might start.
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    warn(io, "the run folder " + folder + " cannot be locked (" + std::strerror(errno) +
                 "): a second run started in it would not be refused");
    return;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return;
  const int err = errno;
  if (err != EWOULDBLOCK) {
    warn(io, "the run folder " + folder + " cannot be locked (" + std::strerror(err) +
                 "): a second run started in it would not be refused");
    ::close(fd);
    return;
  }
  struct stat st {};
  const long pid = ::fstat(fd, &st) == 0 ? lock_holder(st.st_dev, st.st_ino) : 0;
  const std::string who = pid > 0 ? "process " + num(static_cast<int32>(pid)) : "another process";
  error(io, "another run (" + who + ") is running in " + folder +
                "; a second run in the same folder would mix its results with the first's: wait "
                "for it to end, or run in another folder");
  ::close(fd);
  io.finish();
  throw textio::Exit{kExitRefused};
}

}  // namespace bbtrack
