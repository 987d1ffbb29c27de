// Number-to-text of the text layer (Iw, Fw.d, Ew.d, the list-directed
// items, and whole records of the system's formats) against a slow
// reference written from the field rules alone.
//
// The reference starts from the exact decimal value of the double (its
// binary mantissa times a power of two, expanded with big-integer
// arithmetic), rounds that to 17 (E, list-directed) or 16 (F) significant
// digits to nearest with ties to even, then rounds the digit string half-up
// at the field's last place. Nothing in it goes through the library's
// binary-to-decimal conversions.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "textio/textio.h"

namespace {

// ---- reference: exact decimal expansion

// Unsigned big integer in base 10^9, least significant limb first.
class Big {
 public:
  explicit Big(std::uint64_t v) {
    do {
      limbs_.push_back(static_cast<std::uint32_t>(v % kBase));
      v /= kBase;
    } while (v != 0);
  }
  void mul(std::uint32_t f) {
    std::uint64_t carry = 0;
    for (auto& x : limbs_) {
      std::uint64_t t = static_cast<std::uint64_t>(x) * f + carry;
      x = static_cast<std::uint32_t>(t % kBase);
      carry = t / kBase;
    }
    while (carry != 0) {
      limbs_.push_back(static_cast<std::uint32_t>(carry % kBase));
      carry /= kBase;
    }
  }
  std::string digits() const {
    std::string s;
    for (std::size_t i = limbs_.size(); i-- > 0;) {
      std::string part;
      for (std::uint32_t x = limbs_[i]; x != 0; x /= 10) part.insert(part.begin(), char('0' + x % 10));
      if (i + 1 != limbs_.size()) part.insert(0, 9 - part.size(), '0');
      s += part;
    }
    return s.empty() ? "0" : s;
  }

 private:
  static constexpr std::uint64_t kBase = 1000000000;
  std::vector<std::uint32_t> limbs_;
};

// value = 0.dig x 10^exp, dig without leading or trailing zeros.
struct Decimal {
  std::string dig;
  int exp = 0;
};

// Exact decimal value of a finite a > 0.
Decimal exact(double a) {
  std::uint64_t bits;
  std::memcpy(&bits, &a, sizeof bits);
  const int be = static_cast<int>((bits >> 52) & 0x7ff);
  std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
  int e2 = -1074;
  if (be != 0) {
    m |= std::uint64_t{1} << 52;
    e2 = be - 1075;
  }
  Big n(m);
  int shift10 = 0;
  if (e2 >= 0) {
    for (int left = e2; left > 0; left -= 16) n.mul(1u << (left < 16 ? left : 16));
  } else {
    // m / 2^k = m 5^k / 10^k
    for (int left = -e2; left > 0; left -= 13) {
      std::uint32_t f = 1;
      for (int i = 0; i < (left < 13 ? left : 13); ++i) f *= 5;
      n.mul(f);
    }
    shift10 = e2;
  }
  Decimal d;
  d.dig = n.digits();
  d.exp = static_cast<int>(d.dig.size()) + shift10;
  while (d.dig.size() > 1 && d.dig.back() == '0') d.dig.pop_back();
  return d;
}

// Adds one to the last digit of s with carry; true when the carry runs out
// of the first digit (s is then all zeros).
bool increment(std::string& s) {
  for (std::size_t i = s.size(); i-- > 0;) {
    if (s[i] != '9') {
      ++s[i];
      return false;
    }
    s[i] = '0';
  }
  return true;
}

// The n-digit expansion, rounded to nearest with ties to even.
Decimal nearest(const Decimal& x, int n) {
  Decimal r{x.dig.substr(0, static_cast<std::size_t>(n)), x.exp};
  r.dig.resize(static_cast<std::size_t>(n), '0');
  if (static_cast<int>(x.dig.size()) > n) {
    const char next = x.dig[static_cast<std::size_t>(n)];
    const bool more = static_cast<int>(x.dig.size()) > n + 1;  // no trailing zeros: nonzero
    const bool odd = (r.dig.back() - '0') % 2 == 1;
    if (next > '5' || (next == '5' && (more || odd))) {
      if (increment(r.dig)) {
        r.dig[0] = '1';
        ++r.exp;
      }
    }
  }
  return r;
}

std::string decimal_of(std::uint64_t v) {
  std::string s;
  do {
    s.insert(s.begin(), char('0' + v % 10));
    v /= 10;
  } while (v != 0);
  return s;
}

std::string right(const std::string& t, int w) {
  return std::string(static_cast<std::size_t>(w) - t.size(), ' ') + t;
}
std::string stars(int w) { return std::string(static_cast<std::size_t>(w), '*'); }

// inf, -inf, nan, -nan right-justified; a field narrower than the text
// keeps its leading characters (the width is fixed, asterisks never hide a
// non-finite value).
std::string ref_nonfinite(double v, int w) {
  std::string t = std::isnan(v) ? "nan" : "inf";
  if (std::signbit(v)) t = "-" + t;
  if (static_cast<int>(t.size()) > w) t.resize(static_cast<std::size_t>(w));
  return right(t, w);
}

std::string ref_i(std::int32_t v, int w) {
  std::int64_t x = v;
  std::string t = decimal_of(static_cast<std::uint64_t>(x < 0 ? -x : x));
  if (x < 0) t = "-" + t;
  return static_cast<int>(t.size()) > w ? stars(w) : right(t, w);
}

struct Value {
  double v;
  bool finite;
  Decimal x;  // exact |v| when finite and nonzero
};

Value value_of(double v) {
  Value r{v, std::isfinite(v), {}};
  if (r.finite && v != 0) r.x = exact(std::fabs(v));
  return r;
}

std::string ref_f(const Value& val, int w, int d) {
  const double v = val.v;
  if (!val.finite) return ref_nonfinite(v, w);
  bool neg = std::signbit(v);
  std::string m = "0";  // |v| x 10^d, rounded
  if (v != 0) {
    const Decimal r = nearest(val.x, 16);
    const int keep = r.exp + d;  // digits at the places 10^-d and above
    if (keep >= 0) {
      std::string kept = r.dig.substr(0, static_cast<std::size_t>(keep < 16 ? keep : 16));
      if (keep > 16) kept.append(static_cast<std::size_t>(keep - 16), '0');
      if (keep < 16 && r.dig[static_cast<std::size_t>(keep)] >= '5' && increment(kept))
        kept.insert(kept.begin(), '1');
      if (!kept.empty()) m = kept;
    }
  }
  if (m.find_first_not_of('0') == std::string::npos) neg = false;
  if (m.size() < static_cast<std::size_t>(d) + 1) m.insert(0, static_cast<std::size_t>(d) + 1 - m.size(), '0');
  std::string ip = m.substr(0, m.size() - static_cast<std::size_t>(d));
  const std::string fp = m.substr(m.size() - static_cast<std::size_t>(d));
  ip.erase(0, std::min(ip.find_first_not_of('0'), ip.size() - 1));
  // The single 0 of a magnitude below 1 counts as an integer digit here.
  if (static_cast<int>(ip.size()) > w - d - 1) return stars(w);
  std::string t = (neg ? "-" : "") + ip + "." + fp;
  if (static_cast<int>(t.size()) > w && ip == "0") t.erase(neg ? 1 : 0, 1);
  if (static_cast<int>(t.size()) > w) return stars(w);
  return right(t, w);
}

std::string ref_e(const Value& val, int w, int d) {
  const double v = val.v;
  if (!val.finite) return ref_nonfinite(v, w);
  bool neg = std::signbit(v);
  std::string mant;
  int k = 0;  // |v| = 0.mant x 10^k
  if (v == 0) {
    neg = false;
    mant.assign(static_cast<std::size_t>(d), '0');
  } else {
    const Decimal r = nearest(val.x, 17);
    k = r.exp;
    if (d < 17) {
      mant = r.dig.substr(0, static_cast<std::size_t>(d));
      if (r.dig[static_cast<std::size_t>(d)] >= '5' && increment(mant)) {
        if (!mant.empty()) mant[0] = '1';
        ++k;
      }
    } else {
      mant = r.dig + std::string(static_cast<std::size_t>(d - 17), '0');
    }
  }
  const int ak = k < 0 ? -k : k;
  std::string ex = decimal_of(static_cast<std::uint64_t>(ak));
  if (ak <= 99) {
    ex = std::string("E") + (k < 0 ? "-" : "+") + (ak < 10 ? "0" : "") + ex;
  } else {
    ex = std::string(k < 0 ? "-" : "+") + ex;
  }
  std::string t = (neg ? "-" : "") + std::string("0.") + mant + ex;
  if (static_cast<int>(t.size()) > w) t.erase(neg ? 1 : 0, 1);
  if (static_cast<int>(t.size()) > w) return stars(w);
  return right(t, w);
}

std::string ref_list_real(const Value& val) {
  const double v = val.v;
  if (!val.finite) return ref_nonfinite(v, 25);
  if (v == 0) return "  0.0000000000000000E+000";
  const Decimal r = nearest(val.x, 17);
  const int k = r.exp;
  if (k >= 0 && k <= 16) return ref_f(val, 20, 16 - k) + "     ";
  const int e = k - 1;
  std::string ed = decimal_of(static_cast<std::uint64_t>(e < 0 ? -e : e));
  ed.insert(0, 3 - ed.size(), '0');
  std::string t = std::string(std::signbit(v) ? "-" : "") + r.dig[0] + "." + r.dig.substr(1) +
                  "E" + (e < 0 ? "-" : "+") + ed;
  return right(t, 25);
}

// ---- the library side

std::string lib_f(double v, int w, int d) {
  std::string s;
  textio::put_f(s, v, w, d);
  return s;
}
std::string lib_e(double v, int w, int d) {
  std::string s;
  textio::put_e(s, v, w, d);
  return s;
}
std::string lib_i(std::int32_t v, int w) {
  std::string s;
  textio::put_i(s, v, w);
  return s;
}
std::string lib_list_real(double v) {
  std::string s;
  textio::put_list_real(s, v);
  return s;
}

void same(const char* what, const std::string& got, const std::string& want) {
  if (got != want) fuzz::mismatch(what, got, want);
}

// The reference must reproduce the worked examples of the field rules.
void self_check() {
  struct Case {
    char kind;
    double v;
    int w, d;
    const char* text;
  };
  const Case cases[] = {
      {'E', 1.23, 10, 3, " 0.123E+01"},         {'E', -1.23, 10, 3, "-0.123E+01"},
      {'E', 123.456, 10, 4, "0.1235E+03"},      {'E', -123.456, 10, 4, "-.1235E+03"},
      {'E', 123.456, 12, 5, " 0.12346E+03"},    {'E', -123.456, 12, 5, "-0.12346E+03"},
      {'E', 1.23456789012, 18, 12, "0.123456789012E+01"},
      {'E', -1.23456789012, 18, 12, "-.123456789012E+01"},
      {'E', 0.99996, 10, 4, "0.1000E+01"},      {'E', 0.0, 10, 4, "0.0000E+00"},
      {'E', -0.0, 10, 4, "0.0000E+00"},         {'E', 1.0e-120, 10, 4, "0.1000-119"},
      {'F', 1234.56785, 10, 4, " 1234.5679"},   {'F', 3.14159265, 10, 4, "    3.1416"},
      {'F', -0.5, 10, 4, "   -0.5000"},         {'F', 12345.67891, 10, 4, "12345.6789"},
      {'F', -12345.6, 10, 4, "**********"},     {'F', 99999.99999, 10, 4, "**********"},
      {'F', -0.00004, 10, 4, "    0.0000"},     {'L', 1.0e-5, 0, 0, "  1.0000000000000001E-005"},
      {'L', 0.0, 0, 0, "  0.0000000000000000E+000"},
      {'L', 5.0, 0, 0, "   5.000000000000000     "},
      {'L', 0.5, 0, 0, "  0.5000000000000000     "},
      {'L', 0.1, 0, 0, "  0.1000000000000000     "},
      {'L', 0.05, 0, 0, "  5.0000000000000003E-002"},
  };
  for (const Case& c : cases) {
    const Value val = value_of(c.v);
    const std::string got = c.kind == 'E'   ? ref_e(val, c.w, c.d)
                            : c.kind == 'F' ? ref_f(val, c.w, c.d)
                                            : ref_list_real(val);
    same("reference self-check", got, c.text);
  }
  same("reference self-check", ref_i(123456, 5), "*****");
  same("reference self-check", ref_i(-100, 3), "***");
  same("reference self-check", ref_i(-9, 2), "-9");
  same("reference self-check", ref_i(std::numeric_limits<std::int32_t>::min(), 12),
       " -2147483648");
}

// ---- inputs

// A double from the fuzz data: raw bits, or a decimal text (so that values
// next to the half-points of the roundings are common), or its neighbours.
double make_double(FuzzedDataProvider& p) {
  switch (p.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      return p.ConsumeFloatingPoint<double>();
    case 1: {
      std::uint64_t bits = p.ConsumeIntegral<std::uint64_t>();
      double v;
      std::memcpy(&v, &bits, sizeof v);
      return v;
    }
    default: {
      std::string t = p.ConsumeBool() ? "-" : "";
      const int ndig = p.ConsumeIntegralInRange<int>(1, 22);
      for (int i = 0; i < ndig; ++i) t += char('0' + p.ConsumeIntegralInRange<int>(0, 9));
      t += "e" + std::to_string(p.ConsumeIntegralInRange<int>(-345, 310));
      double v = std::strtod(t.c_str(), nullptr);
      for (int steps = p.ConsumeIntegralInRange<int>(-2, 2); steps != 0;
           steps += steps < 0 ? 1 : -1)
        v = std::nextafter(v, steps < 0 ? -INFINITY : INFINITY);
      return v;
    }
  }
}

// Whole records through Io::write and Io::print, against the reference
// fields joined by the format's layout.
void check_records(FuzzedDataProvider& p, fuzz::MemFile& out) {
  double x[10];
  std::int32_t n[3];
  Value vx[10];
  for (int i = 0; i < 10; ++i) {
    x[i] = make_double(p);
    vx[i] = value_of(x[i]);
  }
  for (auto& v : n) v = p.ConsumeIntegral<std::int32_t>();
  const std::string s = " ";
  std::string want;
  textio::Options o;
  o.stdout_fd = out.fd();
  o.stderr_fd = out.fd();
  o.getenv = [](const char*) -> const char* { return nullptr; };
  {
    textio::Io io(o);
    io.write(6, textio::Format("(I6,3(1X,E10.3),1X,I3,1X,I3)"), {n[0], x[0], x[1], x[2], n[1], n[2]});
    want += ref_i(n[0], 6) + s + ref_e(vx[0], 10, 3) + s + ref_e(vx[1], 10, 3) + s +
            ref_e(vx[2], 10, 3) + s + ref_i(n[1], 3) + s + ref_i(n[2], 3) + "\n";
    io.write(6, textio::Format("(1X,I5,4(1X,E10.4))"), {n[0], x[0], x[1], x[2], x[3]});
    want += s + ref_i(n[0], 5);
    for (int i = 0; i < 4; ++i) want += s + ref_e(vx[i], 10, 4);
    want += "\n";
    io.write(6, textio::Format("(2(1X,I5),2(1X,E10.4))"), {n[1], n[2], x[4], x[5]});
    want += s + ref_i(n[1], 5) + s + ref_i(n[2], 5) + s + ref_e(vx[4], 10, 4) + s +
            ref_e(vx[5], 10, 4) + "\n";
    io.write(6, textio::Format("(1X,3(1X,E10.4),1X,I2,1X,4(1X,E10.4))"),
             {x[0], x[1], x[2], n[0], x[3], x[4], x[5], x[6]});
    want += s;
    for (int i = 0; i < 3; ++i) want += s + ref_e(vx[i], 10, 4);
    want += s + ref_i(n[0], 2) + s;
    for (int i = 3; i < 7; ++i) want += s + ref_e(vx[i], 10, 4);
    want += "\n";
    io.write(6, textio::Format("(4(1X,E18.12))"), {x[6], x[7], x[8], x[9]});
    for (int i = 6; i < 10; ++i) want += s + ref_e(vx[i], 18, 12);
    want += "\n";
    io.write(6, textio::Format("(6(1X,E12.5))"), {x[0], x[2], x[4], x[6], x[8], x[9]});
    for (int i : {0, 2, 4, 6, 8, 9}) want += s + ref_e(vx[i], 12, 5);
    want += "\n";
    io.write(6, textio::Format("(I5,9(1X,F10.4))"),
             {n[2], x[1], x[2], x[3], x[4], x[5], x[6], x[7], x[8], x[9]});
    want += ref_i(n[2], 5);
    for (int i = 1; i < 10; ++i) want += s + ref_f(vx[i], 10, 4);
    want += "\n";

    // A list-directed write of up to six mixed items.
    std::vector<std::string> texts;
    std::vector<textio::Item> items;
    std::vector<std::string> fields;
    const int count = p.ConsumeIntegralInRange<int>(0, 6);
    texts.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
      switch (p.ConsumeIntegralInRange<int>(0, 2)) {
        case 0:
          texts.push_back(p.ConsumeRandomLengthString(90));
          items.emplace_back(std::string_view(texts.back()));
          fields.push_back(texts.back());
          break;
        case 1:
          items.emplace_back(n[i % 3]);
          fields.push_back(ref_i(n[i % 3], 12));
          break;
        default:
          items.emplace_back(x[i]);
          fields.push_back(ref_list_real(vx[i]));
      }
    }
    switch (count) {  // an initializer_list needs a fixed length
      case 0: io.print(6, {}); break;
      case 1: io.print(6, {items[0]}); break;
      case 2: io.print(6, {items[0], items[1]}); break;
      case 3: io.print(6, {items[0], items[1], items[2]}); break;
      case 4: io.print(6, {items[0], items[1], items[2], items[3]}); break;
      case 5: io.print(6, {items[0], items[1], items[2], items[3], items[4]}); break;
      default: io.print(6, {items[0], items[1], items[2], items[3], items[4], items[5]});
    }
    std::string line = " ";
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (i > 0 && line.size() + fields[i].size() >= 80) {
        want += line + "\n";
        line = " ";
      }
      line += fields[i];
    }
    want += line + "\n";
    io.flush();
  }
  same("records of the system's formats", out.take(), want);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  self_check();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider p(data, size);
  const double v = make_double(p);
  const Value val = value_of(v);
  // The fields of the system's formats, then any width and decimals.
  same("E10.3", lib_e(v, 10, 3), ref_e(val, 10, 3));
  same("E10.4", lib_e(v, 10, 4), ref_e(val, 10, 4));
  same("E12.5", lib_e(v, 12, 5), ref_e(val, 12, 5));
  same("E18.12", lib_e(v, 18, 12), ref_e(val, 18, 12));
  same("F10.4", lib_f(v, 10, 4), ref_f(val, 10, 4));
  same("list-directed REAL*8", lib_list_real(v), ref_list_real(val));
  {
    const int w = p.ConsumeIntegralInRange<int>(1, 45);
    const int d = p.ConsumeIntegralInRange<int>(0, 30);
    same("Ew.d", lib_e(v, w, d), ref_e(val, w, d));
    same("Fw.d", lib_f(v, w, d), ref_f(val, w, d));
  }
  {
    const std::int32_t i = p.ConsumeIntegral<std::int32_t>();
    const int w = p.ConsumeIntegralInRange<int>(1, 14);
    same("Iw", lib_i(i, w), ref_i(i, w));
    std::string li;
    textio::put_list_int(li, i);
    same("list-directed INTEGER", li, ref_i(i, 12));
  }
  if (p.remaining_bytes() > 0) {
    static fuzz::MemFile out;  // one in-memory standard output per process
    check_records(p, out);
  }
  return 0;
}
