// Number-to-text of the Iw, Fw.d and Ew.d fields and of the list-directed
// INTEGER and REAL*8 items.
//
// F and E fields round twice on purpose: first the correctly rounded 16-digit
// (F) or 17-digit (E) decimal expansion, then half-up on that digit string at
// the field's last place. A value such as 1234.56785, whose double lies just
// below the decimal, therefore comes out as 1234.5679 under F10.4; results
// are compared character by character with other implementations that
// round this way.
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "textio/detail.h"

namespace textio {
namespace {

// Significant digits of a finite a > 0: a ~ d[0].d[1]d[2]... x 10^e.
struct Digits {
  char d[24];
  int e;
};

// The exponent of a to_chars scientific text; e points at its 'e'.
inline int exponent_at(const char* e, const char* end) {
  int v = 0;
  std::from_chars(e + 2, end, v);
  return e[1] == '-' ? -v : v;
}

// The correctly rounded ndig-digit expansion.
inline void expand(double a, int ndig, Digits& out) {
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, ndig - 1);
  out.d[0] = buf[0];  // buf holds D.DDD...e<sign><digits>
  std::memcpy(out.d + 1, buf + 2, static_cast<std::size_t>(ndig - 1));
  out.e = exponent_at(buf + ndig + 1, r.ptr);
}

// The shortest round-trip digits of a normal a, padded with zeros to ndig;
// false when they are longer than ndig or a is subnormal (whose binary ulp
// is not small relative to a).
inline bool shortest(double a, int ndig, Digits& out) {
  if (a < std::numeric_limits<double>::min()) return false;
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific);
  // The text ends in e<sign>DD or e<sign>DDD.
  const char* e = r.ptr[-4] == 'e' ? r.ptr - 4 : r.ptr - 5;
  int n = e - buf > 1 ? static_cast<int>(e - buf) - 1 : 1;
  if (n > ndig) return false;
  // Fixed-size copies (buf is large enough) are cheaper than exact ones.
  out.d[0] = buf[0];
  std::memcpy(out.d + 1, buf + 2, 16);
  for (int i = n; i < ndig; ++i) out.d[i] = '0';
  out.e = exponent_at(e, r.ptr);
  return true;
}

// True when digits d[keep..] (of ndig) may lie within 100 units of the last
// place from the half-point 5000...: a 4 followed by nines, or a 5 followed
// by zeros, up to digit ndig-3.
inline bool near_half(const char* d, int keep, int ndig) {
  char c = d[keep];
  if (c != '4' && c != '5') return false;
  const char follow = c == '4' ? '9' : '0';
  for (int i = keep + 1; i <= ndig - 3; ++i)
    if (d[i] != follow) return false;
  return true;
}

// Digits for a half-up rounding at digit `keep` (the first `keep` digits are
// kept) of the correctly rounded ndig-digit expansion R of a.
//
// CAUTION: a speed path with a proof, not an approximation. The shortest
// digits S (about twice as fast to produce) lie within half a binary ulp of
// a normal a, at most 11.1 units of S's 17th digit, and R lies within half
// a unit of its own last digit, at most 5 such units even when R is one
// decade above S; so |R - S| < 17 units of the 17th digit of S (< 7 units of
// the 16th for ndig = 16). Half-up roundings of R and of S at digit `keep`
// differ only if a half-point of the rounding grid lies between them. When
// keep <= ndig - 3 and S is not near_half, S is at least 100 units from
// every half-point, so both round alike (crossing a decade changes nothing:
// decades begin on grid points, never on half-points). In every other case
// R itself is produced.
inline void expand_for(double a, int ndig, int keep, Digits& out) {
  if (keep >= 0 && keep <= ndig - 3 && shortest(a, ndig, out) && !near_half(out.d, keep, ndig))
    return;
  expand(a, ndig, out);
}

// Half-up rounding of d[0..keep) on digit d[keep]. True when the carry runs
// out of the first digit: the kept digits are then all zeros and the caller
// makes them 1 followed by zeros one place higher.
inline bool round_at(char* d, int keep) {
  if (d[keep] < '5') return false;
  for (int i = keep - 1; i >= 0; --i) {
    if (d[i] != '9') {
      ++d[i];
      return false;
    }
    d[i] = '0';
  }
  return true;
}

// Exponent digits, zero-padded to `width`.
inline char* put_exp_digits(char* p, int a, int width) {
  char b[8];
  auto r = std::to_chars(b, b + sizeof b, a);
  int n = static_cast<int>(r.ptr - b);
  for (int i = n; i < width; ++i) *p++ = '0';
  std::memcpy(p, b, static_cast<std::size_t>(n));
  return p + n;
}

// Room for a field of w columns, blank-filled; returns its first column.
inline char* field(std::string& out, int w) {
  std::size_t at = out.size();
  out.append(static_cast<std::size_t>(w), ' ');
  return out.data() + at;
}

inline void stars(char* f, int w) { std::memset(f, '*', static_cast<std::size_t>(w)); }

}  // namespace

bool put_nonfinite(std::string& out, double value, int w) {
  if (std::isfinite(value)) return false;
  const char* t = std::isnan(value) ? (std::signbit(value) ? "-nan" : "nan")
                                    : (std::signbit(value) ? "-inf" : "inf");
  int n = static_cast<int>(std::strlen(t));
  if (w <= 0) return true;
  char* f = field(out, w);
  // A field too narrow for the text keeps its leading characters: the
  // width stays fixed and no asterisks hide a non-finite value.
  if (n > w) n = w;
  std::memcpy(f + (w - n), t, static_cast<std::size_t>(n));
  return true;
}

void put_i(std::string& out, std::int32_t value, int w) {
  if (w <= 0) return;
  char b[16];
  auto r = std::to_chars(b, b + sizeof b, value);
  int n = static_cast<int>(r.ptr - b);
  char* f = field(out, w);
  if (n > w) return stars(f, w);
  std::memcpy(f + (w - n), b, static_cast<std::size_t>(n));
}

void put_f(std::string& out, double value, int w, int d) {
  if (w <= 0) return;
  if (put_nonfinite(out, value, w)) return;
  if (d < 0) d = 0;
  char* f = field(out, w);
  bool neg = std::signbit(value);
  // Rounded digits dig.d[0..n), dig.d[0] at the place 10^dig.e; n = 0: zero.
  Digits dig;
  int n = 0;
  dig.e = 0;
  if (value != 0) {
    // The rounding place 10^-d is absolute, so which digit is `keep` follows
    // from the exponent; the shortest digits decide it (see expand_for), and
    // below 10^(-d-1) the value rounds to zero either way.
    const double a = std::fabs(value);
    if (!shortest(a, 16, dig)) {
      expand(a, 16, dig);
    } else {
      int keep = dig.e + d + 1;
      if (keep > 13 || (keep >= 0 && near_half(dig.d, keep, 16))) expand(a, 16, dig);
    }
    int keep = dig.e + d + 1;  // digits at places 10^-d and above
    if (keep >= 16) {
      n = 16;
    } else if (keep == 0) {
      if (dig.d[0] >= '5') {
        dig.d[0] = '1';
        dig.e = -d;
        n = 1;
      }
    } else if (keep > 0) {
      n = keep;
      if (round_at(dig.d, keep)) {
        dig.d[0] = '1';
        ++dig.e;
      }
    }
  }
  if (n == 0) neg = false;  // rounds to zero: no minus sign
  const int ilen = (n > 0 && dig.e >= 0) ? dig.e + 1 : 0;  // integer digits
  // The single 0 of a magnitude below 1 counts as an integer digit here: it
  // is dropped below only to make room for the sign.
  if ((ilen > 0 ? ilen : 1) > w - d - 1) return stars(f, w);
  bool lead0 = ilen == 0;
  int len = (neg ? 1 : 0) + (ilen > 0 ? ilen : 1) + 1 + d;
  if (len > w && lead0) {
    lead0 = false;
    --len;
  }
  if (len > w) return stars(f, w);
  char* p = f + (w - len);
  if (neg) *p++ = '-';
  if (lead0) *p++ = '0';
  for (int i = 0; i < ilen; ++i) *p++ = i < n ? dig.d[i] : '0';
  *p++ = '.';
  for (int j = 1; j <= d; ++j) {
    int i = dig.e + j;  // digit at the place 10^-j
    *p++ = (i >= 0 && i < n) ? dig.d[i] : '0';
  }
}

void put_e(std::string& out, double value, int w, int d) {
  if (w <= 0) return;
  if (put_nonfinite(out, value, w)) return;
  if (d < 0) d = 0;
  char* f = field(out, w);
  bool neg = std::signbit(value);
  Digits dig;
  int k = 0;  // value = 0.D1D2... x 10^k
  if (value == 0) {
    neg = false;
    std::memset(dig.d, '0', 17);
  } else {
    expand_for(std::fabs(value), 17, d, dig);
    k = dig.e + 1;
    if (d < 17 && round_at(dig.d, d)) {
      dig.d[0] = '1';
      ++k;
    }
  }
  // sign, "0.", d digits, 4 characters of exponent (E+dd or +ddd)
  int len = (neg ? 1 : 0) + 2 + d + 4;
  bool lead0 = true;
  if (len > w) {
    lead0 = false;
    --len;
  }
  if (len > w) return stars(f, w);
  char* p = f + (w - len);
  if (neg) *p++ = '-';
  if (lead0) *p++ = '0';
  *p++ = '.';
  int nd = d < 17 ? d : 17;
  std::memcpy(p, dig.d, static_cast<std::size_t>(nd));
  p += nd;
  for (int i = nd; i < d; ++i) *p++ = '0';
  int ak = k < 0 ? -k : k;
  if (ak <= 99) {
    *p++ = 'E';
    *p++ = k < 0 ? '-' : '+';
    put_exp_digits(p, ak, 2);
  } else {
    *p++ = k < 0 ? '-' : '+';
    put_exp_digits(p, ak, 3);
  }
}

void put_list_int(std::string& out, std::int32_t value) {
  put_i(out, value, static_cast<int>(detail::kListIntWidth));
}

void put_list_real(std::string& out, double value) {
  constexpr int kW = static_cast<int>(detail::kListRealWidth);
  if (put_nonfinite(out, value, kW)) return;
  if (value == 0) {
    out.append("  0.0000000000000000E+000");
    return;
  }
  Digits dig;
  expand(std::fabs(value), 17, dig);
  const int k = dig.e + 1;
  if (k >= 0 && k <= 16) {
    // F form keeps 16 significant digits: F20.(16-k) and 5 blanks.
    put_f(out, value, 20, 16 - k);
    out.append(5, ' ');
    return;
  }
  // E form: all 17 digits as D.DDDDDDDDDDDDDDDD, E, sign, 3 exponent digits.
  const bool neg = std::signbit(value);
  const int len = (neg ? 1 : 0) + 18 + 5;
  char* p = field(out, kW) + (kW - len);
  if (neg) *p++ = '-';
  *p++ = dig.d[0];
  *p++ = '.';
  std::memcpy(p, dig.d + 1, 16);
  p += 16;
  *p++ = 'E';
  *p++ = dig.e < 0 ? '-' : '+';
  put_exp_digits(p, dig.e < 0 ? -dig.e : dig.e, 3);
}

}  // namespace textio
