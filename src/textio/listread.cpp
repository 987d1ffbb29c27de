// List-directed read: free-form values separated by blanks, commas and line
// ends, with null values, repeat counts, slash and delimited strings.
//
// Choices where free-form input leaves room:
//  - A carriage return counts as a blank, so files with CR-LF line ends
//    read as their LF twins.
//  - An integer outside the 32-bit range, a real beyond the double range, or
//    a real truncated to an INTEGER item that does not fit, is error 231.
//    A real too small for a double reads as zero of its sign.
//  - A comma is a null value unless it is the separator right after a value;
//    a line end only ever acts as a blank.
#include <charconv>
#include <cmath>
#include <limits>

#include "textio/detail.h"

namespace textio {
namespace {

using detail::Stmt;
using detail::Unit;

inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
inline bool ends_word(char c) { return is_blank(c) || c == ',' || c == '/'; }
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

enum class Num { Bad, Int, Real };

// Shape of a numeric constant: [sign] digits [. digits] [(E|e|D|d) [sign] digits],
// with at least one mantissa digit.
Num classify(std::string_view t) {
  std::size_t i = 0, n = t.size(), digits = 0;
  bool real = false;
  if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
  for (; i < n && is_digit(t[i]); ++i) ++digits;
  if (i < n && t[i] == '.') {
    real = true;
    for (++i; i < n && is_digit(t[i]); ++i) ++digits;
  }
  if (digits == 0) return Num::Bad;
  if (i < n && (t[i] == 'E' || t[i] == 'e' || t[i] == 'D' || t[i] == 'd')) {
    real = true;
    ++i;
    if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t ed = 0;
    for (; i < n && is_digit(t[i]); ++i) ++ed;
    if (ed == 0) return Num::Bad;
  }
  if (i != n) return Num::Bad;
  return real ? Num::Real : Num::Int;
}

// For a constant that from_chars found out of range: true when it is tiny
// (underflow) rather than huge. s is normalised: no '+', exponent letter 'e'.
bool is_tiny(std::string_view s) {
  std::size_t i = s.empty() || s[0] != '-' ? 0 : 1;
  long long mag = 0;  // decimal exponent of the leading digit, plus one
  bool found = false;
  for (; i < s.size() && is_digit(s[i]); ++i)
    if (found || s[i] != '0') {
      found = true;
      ++mag;
    }
  if (i < s.size() && s[i] == '.')
    for (++i; i < s.size() && is_digit(s[i]); ++i) {
      if (found) continue;
      if (s[i] != '0') found = true;
      else --mag;
    }
  long long ex = 0;
  if (i < s.size() && s[i] == 'e') {
    ++i;
    bool neg = i < s.size() && s[i] == '-';
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    auto r = std::from_chars(s.data() + i, s.data() + s.size(), ex);
    if (r.ec != std::errc()) ex = std::numeric_limits<long long>::max() / 2;
    if (neg) ex = -ex;
  }
  return mag + ex < 0;
}

}  // namespace

class Io::Impl::Reader {
 public:
  Reader(Io::Impl& m, Unit& u, bool eof_branch, Loc loc)
      : m_(m), u_(u), eof_branch_(eof_branch), loc_(loc) {}

  bool run(std::initializer_list<Target> items) {
    if (!fetch()) return at_eof();
    const Target* t = items.begin();
    const Target* end = items.end();
    bool need_sep = false;  // a value was read and its separator not yet seen
    while (t != end) {
      for (;;) {
        while (col_ < line_.size() && is_blank(line_[col_])) ++col_;
        if (col_ < line_.size()) break;
        if (!fetch()) return at_eof();
      }
      char c = line_[col_];
      if (c == ',') {
        ++col_;
        if (need_sep) need_sep = false;
        else ++t;  // null value
        continue;
      }
      if (c == '/') return true;

      std::int64_t r = 1;
      std::size_t j = col_;
      while (j < line_.size() && is_digit(line_[j])) ++j;
      if (j > col_ && j < line_.size() && line_[j] == '*' && line_[col_] != '0') {
        auto res = std::from_chars(line_.data() + col_, line_.data() + j, r);
        if (res.ec != std::errc()) r = std::numeric_limits<std::int64_t>::max();
        col_ = j + 1;
        if (col_ >= line_.size() || ends_word(line_[col_])) {  // r null values
          t += std::min<std::int64_t>(r, end - t);
          need_sep = true;
          continue;
        }
      }

      std::string_view value;
      bool quoted = line_[col_] == '\'' || line_[col_] == '"';
      if (quoted) {
        if (t->kind != Target::Kind::Text) conversion_error();
        if (!delimited()) return at_eof();
        value = m_.token;
      } else {
        std::size_t e = col_;
        while (e < line_.size() && !ends_word(line_[e])) ++e;
        value = line_.substr(col_, e - col_);
        col_ = e;
      }
      for (std::int64_t k = 0; k < r && t != end; ++k, ++t) assign(*t, value, quoted);
      need_sep = true;
    }
    return true;
  }

 private:
  bool fetch() {
    ++u_.nrec;
    if (m_.next_line(u_, line_, Stmt::ListRead, loc_)) {
      // The CR of a CR-LF line end is no part of a string that goes on over
      // the line end either.
      if (!line_.empty() && line_.back() == '\r') line_.remove_suffix(1);
      col_ = 0;
      return true;
    }
    --u_.nrec;
    return false;
  }

  bool at_eof() {
    if (eof_branch_) return false;
    ++u_.nrec;  // the record that was not there
    m_.fail(217, "attempt to read past end of file", Stmt::ListRead, u_.number, loc_);
  }

  [[noreturn]] void conversion_error() {
    m_.fail(231, "error on data conversion", Stmt::ListRead, u_.number, loc_);
  }

  // A string in apostrophes or quotation marks into m_.token; a doubled
  // delimiter is one delimiter, and the string may go on over line ends.
  bool delimited() {
    const char q = line_[col_++];
    std::string& s = m_.token;
    s.clear();
    for (;;) {
      if (col_ >= line_.size()) {
        if (!fetch()) return false;
        continue;
      }
      char ch = line_[col_++];
      if (ch != q) {
        s += ch;
      } else if (col_ < line_.size() && line_[col_] == q) {
        s += q;
        ++col_;
      } else {
        return true;
      }
    }
  }

  // The constant as from_chars takes it: no '+', exponent letter 'e'.
  std::string_view normalised(std::string_view v) {
    std::string& s = m_.token;
    s.assign(v.front() == '+' ? v.substr(1) : v);
    for (char& c : s)
      if (c == 'D' || c == 'd' || c == 'E') c = 'e';
    return s;
  }

  double real_value(std::string_view v) {
    std::string_view s = normalised(v);
    double x = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), x);
    if (r.ec == std::errc::result_out_of_range && is_tiny(s)) return s[0] == '-' ? -0.0 : 0.0;
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) conversion_error();
    return x;
  }

  void assign(const Target& t, std::string_view v, bool quoted) {
    if (t.kind == Target::Kind::Text) {
      t.s->assign(v.substr(0, t.len));
      t.s->resize(t.len, ' ');
      return;
    }
    if (quoted) conversion_error();
    Num n = classify(v);
    if (n == Num::Bad)
      m_.fail(225, "lexical error-- unknown token type", Stmt::ListRead, u_.number, loc_);
    if (t.kind == Target::Kind::Real) {
      *t.d = real_value(v);
      return;
    }
    if (n == Num::Int) {
      std::string_view s = normalised(v);
      std::int32_t x = 0;
      auto r = std::from_chars(s.data(), s.data() + s.size(), x);
      if (r.ec != std::errc() || r.ptr != s.data() + s.size()) conversion_error();
      *t.i = x;
      return;
    }
    double x = std::trunc(real_value(v));
    if (!(x >= -2147483648.0 && x <= 2147483647.0)) conversion_error();
    *t.i = static_cast<std::int32_t>(x);
  }

  Io::Impl& m_;
  Unit& u_;
  bool eof_branch_;
  Loc loc_;
  std::string_view line_;
  std::size_t col_ = 0;
};

bool Io::Impl::list_read(int unit, std::initializer_list<Target> items, bool eof_branch,
                         Loc loc) {
  try {
    Unit& u = for_read(unit, Stmt::ListRead, loc);
    return Reader(*this, u, eof_branch, loc).run(items);
  } catch (const std::bad_alloc&) {
    fail(210, "dynamic memory allocation failed", Stmt::ListRead, unit, loc);
  }
}

void Io::read(int unit, std::initializer_list<Target> items, Loc loc) {
  impl_->list_read(unit, items, false, loc);
}

bool Io::read_or_eof(int unit, std::initializer_list<Target> items, Loc loc) {
  return impl_->list_read(unit, items, true, loc);
}

}  // namespace textio
