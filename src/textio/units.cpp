// The unit table: preconnection, open and close, the implicit open of a
// unit written without an open, the switch between reading and writing with
// its truncation rule, and the output buffers.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "textio/detail.h"

namespace textio {
namespace {

using detail::Stmt;
using detail::Unit;

// Buffer sizes: output to files goes out in large blocks; standard output
// (when not a terminal) in smaller ones, so that progress lines of a long
// run reach a redirected file without much delay.
constexpr std::size_t kFileBuffer = 64 * 1024;
constexpr std::size_t kStdoutBuffer = 4 * 1024;
constexpr std::size_t kMaxName = 255;

std::string_view trim(std::string_view s) {
  std::size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  std::size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

// "FOR%03d" and "fort.%d" of a unit number.
std::string unit_text(const char* prefix, int unit, int width) {
  char b[16];
  auto r = std::to_chars(b, b + sizeof b, unit);
  std::string s(prefix);
  for (auto n = r.ptr - b; n < width; ++n) s += '0';
  s.append(b, r.ptr);
  return s;
}

void check_unit(int unit) {
  if (unit < 0) throw std::invalid_argument("negative unit number");
}

// Decimal text of a count for the diagnostic lines.
std::string count_text(std::int64_t v) {
  char b[24];
  auto r = std::to_chars(b, b + sizeof b, v);
  return std::string(b, r.ptr);
}

}  // namespace

std::string folder_of(const std::string& dir) {
  if (!dir.empty() && dir.front() == '/') return dir;
  std::vector<char> buf(4096);
  while (::getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE) return dir.empty() ? "." : dir;
    buf.resize(buf.size() * 2);
  }
  std::string cwd = buf.data();
  return dir.empty() ? cwd : cwd + "/" + dir;
}

int write_fd(int fd, const char* p, std::size_t n, std::size_t* done) {
  while (n > 0) {
    ssize_t r = ::write(fd, p, n);
    if (r < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (r == 0) return EIO;
    p += r;
    n -= static_cast<std::size_t>(r);
    if (done) *done += static_cast<std::size_t>(r);
  }
  return 0;
}

const char* detail::stmt_name(Stmt s) {
  switch (s) {
    case Stmt::FormattedWrite: return "formatted write";
    case Stmt::ListWrite: return "list-directed write";
    case Stmt::ListRead: return "list-directed read";
    case Stmt::FormattedRead: return "formatted read";
    case Stmt::Open: return "OPEN";
    case Stmt::Close: return "CLOSE";
  }
  return "";
}

Io::Impl::Impl(Options o) : opt(std::move(o)) {
  auto pre = [&](int number, int fd, const char* name, std::size_t flush_at) {
    auto u = std::make_unique<Unit>();
    u->number = number;
    u->fd = fd;
    u->name = name;
    u->flush_at = flush_at;
    u->obuf.reserve(flush_at + 256);
    units.push_back(std::move(u));
  };
  pre(kStderrUnit, opt.stderr_fd, "stderr", 0);
  units.back()->is_stderr = true;
  pre(kStdinUnit, opt.stdin_fd, "stdin", 0);
  pre(kStdoutUnit, opt.stdout_fd, "stdout", ::isatty(opt.stdout_fd) ? 0 : kStdoutBuffer);
}

std::string Io::Impl::path_of(std::string_view name) const {
  return (opt.dir.empty() || (!name.empty() && name.front() == '/'))
             ? std::string(name)
             : opt.dir + "/" + std::string(name);
}

const char* Io::Impl::env(const char* name) const {
  return opt.getenv ? opt.getenv(name) : std::getenv(name);
}

detail::Unit* Io::Impl::find(int unit) {
  for (auto& u : units)
    if (u->number == unit) return u.get();
  return nullptr;
}

detail::Unit* Io::Impl::find_name(std::string_view name) {
  for (auto& u : units)
    if (u->named && u->name == name) return u.get();
  return nullptr;
}

detail::Unit* Io::Impl::prepare(int unit, std::string_view& name, Stmt kind, Loc loc) {
  check_unit(unit);
  name = trim(name);
  if (name.empty()) fail(211, "invalid file name", kind, unit, loc);
  if (name.size() > kMaxName) name = name.substr(0, kMaxName);
  if (Unit* other = find_name(name); other && other->number != unit)
    fail(207, "file is already connected to another unit", kind, unit, loc);
  if (Unit* u = find(unit)) {
    if (u->named && u->name == name) return u;
    disconnect(*u, kind, loc, true);
  }
  return nullptr;
}

detail::Unit& Io::Impl::add(int unit, std::string_view name, int fd, bool cut_pending, Stmt kind,
                            Loc loc) {
  struct stat st {};
  auto u = std::make_unique<Unit>();
  u->number = unit;
  u->fd = fd;
  u->name = std::string(name);
  u->named = true;
  u->owned = true;
  u->regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  u->cut_pending = cut_pending;
  u->flush_at = kFileBuffer;
  u->obuf.reserve(kFileBuffer + 4096);
  u->last_kind = kind;
  u->last_loc = loc;
  units.push_back(std::move(u));
  return *units.back();
}

detail::Unit& Io::Impl::connect(int unit, std::string_view name, Stmt kind, Loc loc,
                                bool must_exist) {
  if (Unit* held = prepare(unit, name, kind, loc)) return *held;
  std::string path = path_of(name);
  bool existed = true;
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    if (err == ENOENT) {
      if (must_exist) fail(209, "'OLD' specified for file which does not exist", kind, unit, loc);
      existed = false;
      fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
      if (fd < 0) host_fail(errno, kind, unit, loc);
    } else if (err == EACCES || err == EROFS || err == EPERM || err == ETXTBSY) {
      // An input file we may not write to is still readable.
      fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) host_fail(err, kind, unit, loc);
    } else {
      host_fail(err, kind, unit, loc);
    }
  }
  return add(unit, name, fd, existed, kind, loc);
}

void Io::Impl::disconnect(Unit& u, Stmt kind, Loc loc, bool report) {
  flush_unit(u, kind, loc, report);
  if (u.owned && u.fd >= 0) {
    int fd = u.fd;
    u.fd = -1;
    if (::close(fd) != 0 && report && errno != EINTR) host_fail(errno, kind, u.number, loc);
  }
  for (auto it = units.begin(); it != units.end(); ++it)
    if (it->get() == &u) {
      units.erase(it);
      break;
    }
}

void Io::Impl::close_all(bool report) {
  // Standard output first, so that its lines precede whatever a failure
  // below prints on standard error.
  flush_stdout(report);
  while (!units.empty()) {
    Unit& u = *units.front();
    disconnect(u, u.last_kind, u.last_loc, report);
  }
}

void Io::Impl::flush_unit(Unit& u, Stmt kind, Loc loc, bool report) {
  if (u.obuf.empty()) return;
  if (u.gone) {
    u.obuf.clear();
    return;
  }
  std::size_t done = 0;
  int err = write_fd(u.fd, u.obuf.data(), u.obuf.size(), &done);
  if (err == EPIPE && !u.owned) {
    // The reader of a standard stream has gone (SIGPIPE, which the program
    // notes as a stop); its further output has nowhere to go.
    u.gone = true;
    u.obuf.clear();
    return;
  }
  if (err != 0 && u.owned && u.regular) cut_to_record(u, done);
  if (err != 0) {
    // The record the message reports is the first one lost, not the last
    // one buffered: the counter stands at the block's last record.
    std::int64_t waiting = 0, written = 0;
    for (std::size_t i = 0; i < u.obuf.size(); ++i)
      if (u.obuf[i] == '\n') {
        ++waiting;
        if (i < done) ++written;
      }
    u.nrec = u.nrec - waiting + written + 1;
  }
  // The records are dropped either way: a failed block is not retried by
  // the flushes of the error exit.
  u.obuf.clear();
  if (err != 0 && report) host_fail(err, kind, u.number, loc);
}

void Io::Impl::cut_to_record(Unit& u, std::size_t done) {
  // A block is whole records; a write that failed part way (disk full, file
  // size limit) may have left the file ending inside one. Cut it back to
  // the end of the last whole record written.
  // rfind gives npos without a line end, and npos + 1 is 0.
  const std::size_t whole = done == 0 ? 0 : u.obuf.rfind('\n', done - 1) + 1;
  const off_t end = ::lseek(u.fd, 0, SEEK_CUR);
  if (end < 0) {
    diagnose(shown(u.name) + " may end inside a record after the failed write");
    return;
  }
  const off_t at = end - static_cast<off_t>(done - whole);
  if (at != end && (::ftruncate(u.fd, at) != 0 || ::lseek(u.fd, at, SEEK_SET) < 0)) {
    diagnose(shown(u.name) + " may end inside a record: it could not be cut back after the "
                             "failed write");
    return;
  }
  diagnose(shown(u.name) + " ends on its last whole record (" + count_text(at) +
           " bytes) after the failed write");
}

void Io::Impl::flush_all(bool report) {
  // Files before standard output: a reader who sees a line there finds the
  // records written before it on disk. (A failure's message still follows
  // standard output: the error exit pushes it out first.)
  for (std::size_t i = 0; i < units.size(); ++i) {
    Unit& u = *units[i];
    if (u.owned) flush_unit(u, u.last_kind, u.last_loc, report);
  }
  flush_stdout(report);
}

void Io::Impl::flush_stdout(bool report) {
  for (auto& u : units)
    if (!u->owned && u->fd == opt.stdout_fd && !u->obuf.empty())
      flush_unit(*u, u->last_kind, u->last_loc, report);
}

detail::Unit& Io::Impl::for_write(int unit, Stmt kind, Loc loc) {
  Unit* u = find(unit);
  if (u == nullptr) {
    check_unit(unit);
    std::string var = unit_text("FOR", unit, 3);
    const char* v = env(var.c_str());
    u = &connect(unit, v ? std::string_view(v) : unit_text("fort.", unit, 0), kind, loc, false);
  }
  if (u->is_stderr) flush_stdout(true);
  if (u->mode != Unit::Mode::Writing) {
    if (u->cut_pending && u->regular) {
      off_t pos = static_cast<off_t>(u->ibase + static_cast<std::int64_t>(u->ipos));
      if (::ftruncate(u->fd, pos) != 0) host_fail(errno, kind, unit, loc);
      if (::lseek(u->fd, pos, SEEK_SET) < 0) host_fail(errno, kind, unit, loc);
    }
    u->cut_pending = false;
    u->ibuf.clear();
    u->ipos = 0;
    u->ieof = false;
    u->mode = Unit::Mode::Writing;
  }
  u->last_kind = kind;
  u->last_loc = loc;
  return *u;
}

void Io::Impl::end_write(Unit& u, Stmt kind, Loc loc) {
  if (u.obuf.size() >= u.flush_at) flush_unit(u, kind, loc, true);
}

detail::Unit& Io::Impl::for_read(int unit, Stmt kind, Loc loc) {
  Unit* u = find(unit);
  if (u == nullptr) {
    check_unit(unit);
    std::string var = unit_text("FOR", unit, 3);
    const char* v = env(var.c_str());
    u = &connect(unit, v ? std::string_view(v) : unit_text("fort.", unit, 0), kind, loc, true);
  }
  // A prompt on standard output shows before the program waits for input.
  if (!u->owned) flush_stdout(true);
  if (u->mode == Unit::Mode::Writing) {
    flush_unit(*u, kind, loc, true);
    off_t off = ::lseek(u->fd, 0, SEEK_CUR);
    u->ibase = off >= 0 ? off : 0;
    u->ibuf.clear();
    u->ipos = 0;
    u->ieof = false;
  }
  u->mode = Unit::Mode::Reading;
  u->cut_pending = true;
  return *u;
}

// ---- public statements of the unit table

Io::Io() : Io(Options{}) {}

Io::Io(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Io::~Io() {
  try {
    impl_->close_all(false);
  } catch (...) {
  }
}

void Io::open(int unit, std::string_view name, Loc loc) {
  try {
    impl_->connect(unit, name, detail::Stmt::Open, loc, false);
  } catch (const std::bad_alloc&) {
    impl_->fail(210, "dynamic memory allocation failed", detail::Stmt::Open, unit, loc);
  }
}

void Io::close(int unit, Loc loc) {
  if (detail::Unit* u = impl_->find(unit)) impl_->disconnect(*u, detail::Stmt::Close, loc, true);
}

void Io::flush() { impl_->flush_all(true); }

void Io::flush(int unit, Loc loc) {
  if (detail::Unit* u = impl_->find(unit)) impl_->flush_unit(*u, u->last_kind, loc, true);
}

bool Io::exists(std::string_view given) const {
  std::string_view name = trim(given);
  if (name.empty()) return false;
  if (name.size() > kMaxName) name = name.substr(0, kMaxName);  // as open truncates
  const std::string path = impl_->path_of(name);
  struct stat sb {};
  return ::stat(path.c_str(), &sb) == 0;
}

std::string Io::folder() const { return folder_of(impl_->opt.dir); }

std::string Io::path(std::string_view name) const { return impl_->path_of(trim(name)); }

std::string Io::default_name(int unit) const {
  check_unit(unit);
  const std::string var = unit_text("FOR", unit, 3);
  const char* v = impl_->env(var.c_str());
  return v ? std::string(v) : unit_text("fort.", unit, 0);
}

void Io::finish() { impl_->close_all(true); }

}  // namespace textio
