// List-directed reads (with and without an end-of-file branch) and (A80)
// line reads of fuzzed file content, against a slow reference reader.
//
// Input layout: a schedule of up to eight statements (three bytes each),
// then the content of the file. Statement bytes: kind (read, read with an
// end-of-file branch, (A80) line read) and item count, then two bytes of
// item kinds (INTEGER, REAL*8, CHARACTER*10, CHARACTER*3). The schedule is
// repeated until the file is used up or a statement fails. Every value,
// every end-of-file branch and the code and record of a failure must match.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_util.h"
#include "textio/textio.h"

namespace {

enum class Kind { Int, Real, Text10, Text3 };

struct Stmt {
  int what;  // 0, 3: read; 1: read with end-of-file branch; 2: (A80)
  std::vector<Kind> items;
};

// The values a statement leaves in its items (and in the line of an A80).
struct Values {
  std::vector<std::int32_t> i;
  std::vector<double> d;
  std::vector<std::string> s;
  std::string line;
};

// Outcome of a statement: done, end-of-file branch taken, or failure.
struct Outcome {
  enum { Ok, Eof, Fail } how = Ok;
  int code = 0;
  long long record = 0;
};

void start_values(const Stmt& st, Values& v) {
  // Distinct start values show which items a read left alone.
  v.i.assign(st.items.size(), 0);
  v.d.assign(st.items.size(), 0.0);
  v.s.assign(st.items.size(), std::string());
  for (std::size_t k = 0; k < st.items.size(); ++k) {
    v.i[k] = -7000 - static_cast<std::int32_t>(k);
    v.d[k] = -0.25 - static_cast<double>(k);
    v.s[k] = st.items[k] == Kind::Text10 ? "untouched " : "old";
  }
  v.line = "not read";
}

// ---- the reference reader

class Reference {
 public:
  explicit Reference(std::string_view content) {
    std::size_t at = 0;
    while (at < content.size()) {
      std::size_t nl = content.find('\n', at);
      if (nl == std::string_view::npos) {
        lines_.emplace_back(content.substr(at));  // a last line without "\n"
        break;
      }
      lines_.emplace_back(content.substr(at, nl - at));
      at = nl + 1;
    }
  }

  Outcome run(const Stmt& st, Values& v) {
    out_ = Outcome{};
    if (st.what == 2) {
      ++record_;
      if (next_ >= lines_.size()) return fail(217);
      v.line = lines_[next_++].substr(0, 80);
      v.line.resize(80, ' ');
      return out_;
    }
    eof_branch_ = st.what == 1;
    list_read(st, v);
    return out_;
  }

 private:
  Outcome fail(int code) {
    out_.how = Outcome::Fail;
    out_.code = code;
    out_.record = record_;
    return out_;
  }
  // The end of the file before the items are satisfied.
  void at_end() {
    if (eof_branch_) {
      out_.how = Outcome::Eof;
    } else {
      ++record_;
      fail(217);
    }
  }
  bool fetch() {
    if (next_ >= lines_.size()) return false;
    ++record_;
    line_ = lines_[next_++];
    // A carriage return before the line feed is no part of the record.
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    col_ = 0;
    return true;
  }
  static bool blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
  static bool word_end(char c) { return blank(c) || c == ',' || c == '/'; }
  static bool digit(char c) { return c >= '0' && c <= '9'; }

  // A numeric constant: 0 not one, 1 integer, 2 real.
  static int shape(const std::string& t) {
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t before = 0, after = 0;
    while (i < t.size() && digit(t[i])) ++i, ++before;
    bool point = false, exponent = false;
    if (i < t.size() && t[i] == '.') {
      point = true;
      ++i;
      while (i < t.size() && digit(t[i])) ++i, ++after;
    }
    if (before + after == 0) return 0;
    if (i < t.size() && std::strchr("EeDd", t[i]) != nullptr && t[i] != '\0') {
      exponent = true;
      ++i;
      if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
      std::size_t ed = 0;
      while (i < t.size() && digit(t[i])) ++i, ++ed;
      if (ed == 0) return 0;
    }
    if (i != t.size()) return 0;
    return point || exponent ? 2 : 1;
  }

  // The value of a real constant; false when it is beyond the double range.
  static bool real(std::string t, double& x) {
    for (char& c : t)
      if (c == 'D' || c == 'd') c = 'e';
    errno = 0;
    x = std::strtod(t.c_str(), nullptr);
    return !(errno == ERANGE && std::isinf(x));
  }

  // Stores one value; false after a failure.
  bool store(Kind k, std::size_t idx, const std::string& t, bool quoted, Values& v) {
    if (k == Kind::Text10 || k == Kind::Text3) {
      std::size_t len = k == Kind::Text10 ? 10 : 3;
      v.s[idx] = t.substr(0, len);
      v.s[idx].resize(len, ' ');
      return true;
    }
    if (quoted) return fail(231), false;
    const int sh = shape(t);
    if (sh == 0) return fail(225), false;
    if (k == Kind::Real) {
      double x;
      if (!real(t, x)) return fail(231), false;
      v.d[idx] = x;
      return true;
    }
    if (sh == 1) {
      errno = 0;
      long long x = std::strtoll(t.c_str(), nullptr, 10);
      if (errno == ERANGE || x < INT32_MIN || x > INT32_MAX) return fail(231), false;
      v.i[idx] = static_cast<std::int32_t>(x);
      return true;
    }
    double x;
    if (!real(t, x)) return fail(231), false;
    x = std::trunc(x);
    if (!(x >= -2147483648.0 && x <= 2147483647.0)) return fail(231), false;
    v.i[idx] = static_cast<std::int32_t>(x);
    return true;
  }

  void list_read(const Stmt& st, Values& v) {
    if (!fetch()) return at_end();
    const std::size_t n = st.items.size();
    std::size_t idx = 0;
    bool after_value = false;
    while (idx < n) {
      while (col_ < line_.size() && blank(line_[col_])) ++col_;
      if (col_ >= line_.size()) {
        if (!fetch()) return at_end();
        continue;
      }
      const char c = line_[col_];
      if (c == ',') {
        ++col_;
        if (after_value) after_value = false;
        else ++idx;
        continue;
      }
      if (c == '/') return;
      // A repeat count r* (r unsigned, not starting with 0).
      unsigned long long r = 1;
      if (c >= '1' && c <= '9') {
        std::size_t j = col_;
        unsigned long long acc = 0;
        bool big = false;
        while (j < line_.size() && digit(line_[j])) {
          if (acc > 1000000000000ull) big = true;
          else acc = acc * 10 + static_cast<unsigned>(line_[j] - '0');
          ++j;
        }
        if (j < line_.size() && line_[j] == '*') {
          r = big ? ~0ull : acc;
          col_ = j + 1;
          if (col_ >= line_.size() || word_end(line_[col_])) {
            idx = r >= n - idx ? n : idx + static_cast<std::size_t>(r);
            after_value = true;
            continue;
          }
        }
      }
      std::string value;
      const bool quoted = line_[col_] == '\'' || line_[col_] == '"';
      if (quoted) {
        if (st.items[idx] != Kind::Text10 && st.items[idx] != Kind::Text3) return void(fail(231));
        const char q = line_[col_++];
        for (;;) {
          if (col_ >= line_.size()) {
            if (!fetch()) return at_end();
            continue;
          }
          const char ch = line_[col_++];
          if (ch != q) {
            value += ch;
          } else if (col_ < line_.size() && line_[col_] == q) {
            value += q;
            ++col_;
          } else {
            break;
          }
        }
      } else {
        while (col_ < line_.size() && !word_end(line_[col_])) value += line_[col_++];
      }
      for (unsigned long long k = 0; k < r && idx < n; ++k, ++idx)
        if (!store(st.items[idx], idx, value, quoted, v)) return;
      after_value = true;
    }
  }

  std::vector<std::string> lines_;
  std::size_t next_ = 0;
  long long record_ = 0;
  std::string line_;
  std::size_t col_ = 0;
  bool eof_branch_ = false;
  Outcome out_;
};

// ---- the library side

Outcome run_library(textio::Io& io, const Stmt& st, Values& v, fuzz::MemFile& err) {
  constexpr int kUnit = 10;
  Outcome o;
  try {
    if (st.what == 2) {
      io.read_line(kUnit, v.line);
      return o;
    }
    std::vector<textio::Target> t;
    for (std::size_t k = 0; k < st.items.size(); ++k) {
      switch (st.items[k]) {
        case Kind::Int: t.emplace_back(v.i[k]); break;
        case Kind::Real: t.emplace_back(v.d[k]); break;
        case Kind::Text10: t.emplace_back(v.s[k], 10); break;
        case Kind::Text3: t.emplace_back(v.s[k], 3); break;
      }
    }
    bool more = true;
    // An initializer_list needs a fixed length.
    auto call = [&](std::initializer_list<textio::Target> l) {
      if (st.what == 1) more = io.read_or_eof(kUnit, l);
      else io.read(kUnit, l);
    };
    switch (t.size()) {
      case 0: call({}); break;
      case 1: call({t[0]}); break;
      case 2: call({t[0], t[1]}); break;
      case 3: call({t[0], t[1], t[2]}); break;
      case 4: call({t[0], t[1], t[2], t[3]}); break;
      case 5: call({t[0], t[1], t[2], t[3], t[4]}); break;
      default: call({t[0], t[1], t[2], t[3], t[4], t[5]});
    }
    if (!more) o.how = Outcome::Eof;
    return o;
  } catch (const textio::Exit& e) {
    fuzz::check(e.status == 1, "error exit status is 1");
    // RTFIO-F-<code>/<statement>/unit=10/<text>.
    //  File name = in.dat    formatted, sequential access   record = <n>
    //  In source file ..., at line number ...
    const std::string msg = err.take();
    o.how = Outcome::Fail;
    fuzz::check(msg.rfind("RTFIO-F-", 0) == 0, "message starts with RTFIO-F-");
    o.code = std::atoi(msg.c_str() + 8);
    const std::string kind = st.what == 2 ? "formatted read" : "list-directed read";
    const char* text = o.code == 217   ? "attempt to read past end of file"
                       : o.code == 225 ? "lexical error-- unknown token type"
                       : o.code == 231 ? "error on data conversion"
                                       : "?";
    const std::string first = "RTFIO-F-" + std::to_string(o.code) + "/" + kind +
                              "/unit=10/" + text + ".\n";
    const std::string second_head =
        " File name = in.dat    formatted, sequential access   record = ";
    if (msg.compare(0, first.size(), first) != 0) fuzz::mismatch("error line", msg, first);
    if (msg.compare(first.size(), second_head.size(), second_head) != 0)
      fuzz::mismatch("file line", msg, second_head);
    o.record = std::atoll(msg.c_str() + first.size() + second_head.size());
    const std::size_t third = msg.find('\n', first.size()) + 1;
    fuzz::check(msg.compare(third, 16, " In source file ") == 0, "source line");
    fuzz::check(msg.back() == '\n' && msg.find('\n', third) == msg.size() - 1,
                "three lines in all");
    return o;
  }
}

std::string describe(const Outcome& o) {
  return std::to_string(static_cast<int>(o.how)) + "/" + std::to_string(o.code) + "/" +
         std::to_string(o.record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::Scratch dir;  // one scratch folder per process
  static fuzz::MemFile out, err;

  std::vector<Stmt> schedule;
  std::size_t at = 0;
  for (int s = 0; s < 8 && at + 3 <= size; ++s, at += 3) {
    Stmt st;
    st.what = data[at] & 3;
    const unsigned kinds = data[at + 1] | (data[at + 2] << 8u);
    const int count = st.what == 2 ? 0 : (data[at] >> 2) % 7;
    for (int k = 0; k < count; ++k) st.items.push_back(static_cast<Kind>((kinds >> (2 * k)) & 3));
    schedule.push_back(st);
  }
  if (schedule.empty()) return 0;
  const std::string_view content(reinterpret_cast<const char*>(data) + at, size - at);
  dir.clear();
  dir.put("in.dat", content);

  textio::Options o;
  o.stdout_fd = out.fd();
  o.stderr_fd = err.fd();
  o.dir = dir.path();
  o.getenv = [](const char*) -> const char* { return nullptr; };
  Reference ref(content);
  {
    textio::Io io(o);
    io.open(10, "in.dat");
    // Enough statements to use up any file that has one value per line.
    const std::size_t limit = 16 + content.size();
    for (std::size_t k = 0; k < limit; ++k) {
      const Stmt& st = schedule[k % schedule.size()];
      Values lib, want;
      start_values(st, lib);
      start_values(st, want);
      const Outcome got = run_library(io, st, lib, err);
      const Outcome exp = ref.run(st, want);
      if (got.how != exp.how || got.code != exp.code || got.record != exp.record)
        fuzz::mismatch("outcome (how/code/record)", describe(got), describe(exp));
      for (std::size_t i = 0; i < st.items.size(); ++i) {
        if (lib.i[i] != want.i[i])
          fuzz::mismatch("INTEGER item", std::to_string(lib.i[i]), std::to_string(want.i[i]));
        if (std::memcmp(&lib.d[i], &want.d[i], sizeof(double)) != 0)
          fuzz::mismatch("REAL*8 item", std::to_string(lib.d[i]), std::to_string(want.d[i]));
        if (lib.s[i] != want.s[i]) fuzz::mismatch("CHARACTER item", lib.s[i], want.s[i]);
      }
      if (lib.line != want.line) fuzz::mismatch("(A80) line", lib.line, want.line);
      if (got.how == Outcome::Fail) return 0;  // the run would end here
      if (got.how == Outcome::Eof && st.what == 1 && k >= schedule.size()) break;
    }
  }
  fuzz::check(err.take().empty(), "nothing on standard error without a failure");
  out.take();
  return 0;
}
