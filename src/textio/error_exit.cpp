// The one error exit of every I/O statement, and the ends of the run.
#include <charconv>
#include <cstring>
#include <string>

#include "textio/detail.h"

namespace textio {
namespace {

void append_int(std::string& s, std::int64_t v) {
  char b[24];
  auto r = std::to_chars(b, b + sizeof b, v);
  s.append(b, r.ptr);
}

std::string_view basename(const char* path) {
  std::string_view p = path ? path : "";
  std::size_t slash = p.find_last_of('/');
  return slash == std::string_view::npos ? p : p.substr(slash + 1);
}

}  // namespace

void Io::Impl::fail(int code, const char* text, Stmt kind, int unit, Loc loc) {
  std::string msg = "RTFIO-F-";
  append_int(msg, code);
  msg += '/';
  msg += detail::stmt_name(kind);
  msg += "/unit=";
  append_int(msg, unit);
  msg += '/';
  msg += text;
  msg += ".\n";
  finish_fail(msg, unit, loc);
}

void Io::Impl::host_fail(int err, Stmt kind, int unit, Loc loc) {
  std::string msg = "RTFIO/stdio: ";
  msg += std::strerror(err);
  msg += "\nRTFIO-F-/";
  msg += detail::stmt_name(kind);
  msg += "/unit=";
  append_int(msg, unit);
  msg += "/error code returned by host stdio - ";
  append_int(msg, err);
  msg += ".\n";
  finish_fail(msg, unit, loc);
}

void Io::Impl::finish_fail(std::string& msg, int unit, Loc loc) {
  if (Unit* u = find(unit)) {
    msg += " File name = ";
    msg += u->name;
    msg += "    formatted, ";
    msg += "sequential access  ";
    msg += " record = ";
    append_int(msg, u->nrec);
    msg += '\n';
  }
  msg += " In source file ";
  msg += basename(loc.file_name());
  msg += ", at line number ";
  append_int(msg, loc.line());
  msg += '\n';
  // Standard output comes first so that its lines precede the message when
  // both streams go to the same place; the files keep every record.
  flush_stdout(false);
  write_fd(opt.stderr_fd, msg.data(), msg.size());
  flush_all(false);
  throw Exit{1};
}

void Io::Impl::diagnose(std::string_view sentence) {
  std::string line = opt.program;
  line += ": error: ";
  line += sentence;
  line += '\n';
  flush_stdout(false);
  write_fd(opt.stderr_fd, line.data(), line.size());
}

void Io::Impl::refuse(std::string_view sentence, int status) {
  diagnose(sentence);
  flush_all(false);
  throw Exit{status};
}

void Io::stop(int status) {
  Impl& m = *impl_;
  m.flush_stdout(true);
  if (m.env("NO_STOP_MESSAGE") == nullptr) {
    static constexpr char kStop[] = "FORTRAN STOP\n";
    write_fd(m.opt.stderr_fd, kStop, sizeof kStop - 1);
  }
  m.close_all(true);
  throw Exit{status};
}

void Io::terminate(int status) {
  impl_->flush_all(true);
  throw Exit{status};
}

}  // namespace textio
