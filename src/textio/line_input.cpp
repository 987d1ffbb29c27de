// Line input: the read-ahead buffer of a unit, the (A80) line read and the
// whole-line read of the record readers.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "textio/detail.h"

namespace textio {
namespace {

constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kA80 = 80;

}  // namespace

bool Io::Impl::next_line(Unit& u, std::string_view& line, Stmt kind, Loc loc) {
  for (;;) {
    const char* b = u.ibuf.data();
    if (u.ipos < u.ibuf.size()) {
      const void* nl = std::memchr(b + u.ipos, '\n', u.ibuf.size() - u.ipos);
      if (nl != nullptr) {
        std::size_t end = static_cast<std::size_t>(static_cast<const char*>(nl) - b);
        line = std::string_view(b + u.ipos, end - u.ipos);
        u.ipos = end + 1;
        return true;
      }
    }
    if (u.ieof) {
      // A last line without its "\n" is still a line.
      if (u.ipos < u.ibuf.size()) {
        line = std::string_view(b + u.ipos, u.ibuf.size() - u.ipos);
        u.ipos = u.ibuf.size();
        return true;
      }
      return false;
    }
    if (u.ipos > 0) {
      u.ibase += static_cast<std::int64_t>(u.ipos);
      u.ibuf.erase(0, u.ipos);
      u.ipos = 0;
    }
    std::size_t have = u.ibuf.size();
    u.ibuf.resize(have + kReadChunk);
    ssize_t r;
    do {
      r = ::read(u.fd, u.ibuf.data() + have, kReadChunk);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
      int err = errno;
      u.ibuf.resize(have);
      host_fail(err, kind, u.number, loc);
    }
    u.ibuf.resize(have + static_cast<std::size_t>(r));
    if (r == 0) u.ieof = true;
  }
}

void Io::read_line(int unit, std::string& line, Loc loc) {
  Impl& m = *impl_;
  try {
    detail::Unit& u = m.for_read(unit, detail::Stmt::FormattedRead, loc);
    ++u.nrec;
    std::string_view text;
    if (!m.next_line(u, text, detail::Stmt::FormattedRead, loc))
      m.fail(217, "attempt to read past end of file", detail::Stmt::FormattedRead, unit, loc);
    line.assign(text.substr(0, kA80));
    line.resize(kA80, ' ');
  } catch (const std::bad_alloc&) {
    m.fail(210, "dynamic memory allocation failed", detail::Stmt::FormattedRead, unit, loc);
  }
}

bool Io::read_text_line_or_eof(int unit, std::string& line, Loc loc) {
  Impl& m = *impl_;
  try {
    detail::Unit& u = m.for_read(unit, detail::Stmt::FormattedRead, loc);
    std::string_view text;
    if (!m.next_line(u, text, detail::Stmt::FormattedRead, loc)) return false;
    ++u.nrec;
    line.assign(text);
    return true;
  } catch (const std::bad_alloc&) {
    m.fail(210, "dynamic memory allocation failed", detail::Stmt::FormattedRead, unit, loc);
  }
}

}  // namespace textio
