// Edit-descriptor formats: the parser that expands a format text such as
// "(1X,I5,4(1X,E10.4))" into a flat list of descriptors, repeat counts and
// groups expanded, so that a write only walks an array. The same parser runs
// when the program is compiled, for the fixed formats of the program
// (fixed_format), and at run time, for a Format built from any text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace textio {

// One expanded edit descriptor.
struct FormatOp {
  enum class Kind : std::uint8_t { I, F, E, X, A };
  Kind kind;
  int w;  // field width; column count of nX; 0 for a bare A (whole value)
  int d;  // decimals of F and E
};

// What a formatted write walks: the text (named in messages), the expanded
// descriptors and where the walk resumes when items remain at the end of
// the format (the start of the last top-level group, or of the whole format
// without one). A view: the format it was taken from must outlive it.
struct FormatRef {
  std::string_view text;
  std::span<const FormatOp> ops;
  std::size_t reversion;
};

namespace detail {

// A format that expands beyond this is surely a mistake.
inline constexpr std::size_t kMaxFormatOps = 1 << 20;

// Throws std::invalid_argument("bad format \"TEXT\": WHY"). Not constexpr:
// reached while compiling, it makes the fixed format a compile error whose
// notes show WHY.
[[noreturn]] void bad_format(std::string_view text, const char* why);

// Sink counting the descriptors (first pass of a fixed format).
struct CountSink {
  std::size_t n = 0;
  constexpr std::size_t size() const { return n; }
  constexpr void push(const FormatOp&) { ++n; }
  constexpr void copy(std::size_t) { ++n; }
};

// Sink filling a fixed array (second pass of a fixed format).
template <std::size_t N>
struct ArraySink {
  std::array<FormatOp, N> ops{};
  std::size_t n = 0;
  constexpr std::size_t size() const { return n; }
  constexpr void push(const FormatOp& op) { ops[n++] = op; }
  constexpr void copy(std::size_t j) {
    ops[n] = ops[j];
    ++n;
  }
};

// format  = '(' list ')'
// list    = item {',' item}
// item    = [r] '(' list ')' | [r] 'X' | [r] ('I'|'A') [w] | [r] ('F'|'E') w '.' d
// Blanks and tabs may stand between the tokens; letters in either case.
// The sink takes push(op) and copy(j), the latter appending a copy of
// descriptor j.
template <class Sink>
class FormatParser {
 public:
  constexpr FormatParser(std::string_view text, Sink& sink) : s_(text), out_(sink) {}

  // Returns the reversion point.
  constexpr std::size_t parse() {
    skip();
    expect('(');
    std::size_t revert = 0;
    list(true, revert);
    expect(')');
    skip();
    if (i_ != s_.size()) bad("text after the closing parenthesis");
    return revert;
  }

 private:
  using Op = FormatOp;

  [[noreturn]] constexpr void bad(const char* why) const { bad_format(s_, why); }
  constexpr void skip() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
  }
  constexpr char peek() {
    skip();
    if (i_ >= s_.size()) return '\0';
    const char c = s_[i_];
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  constexpr void expect(char c) {
    if (peek() != c) bad("unexpected character");
    ++i_;
  }
  static constexpr bool digit(char c) { return c >= '0' && c <= '9'; }
  // Unsigned count or width; -1 when absent. A minus sign before digits is
  // read with them: any non-zero value then is out of range.
  constexpr int number() {
    skip();
    std::size_t j = i_;
    const bool minus = j < s_.size() && s_[j] == '-';
    if (minus) ++j;
    if (j >= s_.size() || !digit(s_[j])) return -1;
    std::int64_t v = 0;
    bool overflow = false;
    for (; j < s_.size() && digit(s_[j]); ++j) {
      v = v * 10 + (s_[j] - '0');
      if (v > 2147483647) overflow = true, v = 2147483648;
    }
    if (overflow || (minus && v != 0)) bad("number out of range");
    i_ = j;
    return static_cast<int>(v);
  }
  constexpr void push(const Op& op) {
    if (out_.size() >= kMaxFormatOps) bad("too many descriptors");
    out_.push(op);
  }

  // item {',' item}; at top level records where the last group starts.
  constexpr void list(bool top, std::size_t& revert) {
    for (;;) {
      item(top, revert);
      if (peek() != ',') return;
      ++i_;
    }
  }

  constexpr void item(bool top, std::size_t& revert) {
    int r = number();
    if (r == 0) bad("zero repeat count");
    char c = peek();
    if (c == '(') {
      ++i_;
      std::size_t first = out_.size();
      std::size_t inner_revert = 0;
      list(false, inner_revert);
      expect(')');
      std::size_t last = out_.size();
      if (last == first) bad("empty group");
      for (int k = 1; k < (r < 0 ? 1 : r); ++k)
        for (std::size_t j = first; j < last; ++j) {
          if (out_.size() >= kMaxFormatOps) bad("too many descriptors");
          out_.copy(j);
        }
      if (top) revert = first;
      return;
    }
    ++i_;
    Op op{};
    switch (c) {
      case 'X':
        push(Op{Op::Kind::X, r < 0 ? 1 : r, 0});
        return;
      case 'I':
      case 'F':
      case 'E':
      case 'A': {
        op.kind = c == 'I' ? Op::Kind::I : c == 'F' ? Op::Kind::F : c == 'E' ? Op::Kind::E
                                                                             : Op::Kind::A;
        int w = number();
        if (op.kind != Op::Kind::A && w <= 0) bad("missing field width");
        if (w == 0) bad("zero field width");
        op.w = w < 0 ? 0 : w;
        if (op.kind == Op::Kind::F || op.kind == Op::Kind::E) {
          expect('.');
          op.d = number();
          if (op.d < 0) bad("missing decimals");
        }
        break;
      }
      default:
        bad("unsupported edit descriptor");
    }
    for (int k = 0; k < (r < 0 ? 1 : r); ++k) push(op);
  }

  std::string_view s_;
  std::size_t i_ = 0;
  Sink& out_;
};

// A string literal as a template argument.
template <std::size_t N>
struct FormatText {
  char s[N]{};
  consteval FormatText(const char (&t)[N]) {
    for (std::size_t i = 0; i < N; ++i) s[i] = t[i];
  }
  constexpr std::string_view view() const { return {s, N - 1}; }
};

}  // namespace detail

// A format parsed when the program is compiled: a fixed array of
// descriptors, nothing built at start-up or at run time.
template <std::size_t N>
struct FixedFormat {
  std::string_view text;
  std::array<FormatOp, N> ops;
  std::size_t reversion;
  constexpr operator FormatRef() const { return {text, ops, reversion}; }
};

namespace detail {

template <FormatText T>
consteval auto parse_fixed() {
  constexpr std::size_t n = [] {
    CountSink count;
    FormatParser<CountSink>(T.view(), count).parse();
    return count.size();
  }();
  ArraySink<n> sink;
  const std::size_t revert = FormatParser<ArraySink<n>>(T.view(), sink).parse();
  return FixedFormat<n>{T.view(), sink.ops, revert};
}

}  // namespace detail

// The program's formats: `textio::fixed_format<"(1X,I5,4(1X,E10.4))">`. A
// malformed text does not compile.
template <detail::FormatText T>
inline constexpr auto fixed_format = detail::parse_fixed<T>();

}  // namespace textio
