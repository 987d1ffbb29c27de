// Edit-descriptor formats: parsed once into a flat list of descriptors with
// the repeat counts and groups expanded, so that a write only walks a vector.
#include <cctype>
#include <charconv>
#include <stdexcept>

#include "textio/detail.h"

namespace textio {
namespace {

using Op = Format::Op;

// A format that expands beyond this is surely a mistake.
constexpr std::size_t kMaxOps = 1 << 20;

class Parser {
 public:
  Parser(std::string_view text, std::vector<Op>& ops) : s_(text), ops_(ops) {}

  std::size_t parse() {
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
  [[noreturn]] void bad(const char* why) const {
    throw std::invalid_argument("bad format \"" + std::string(s_) + "\": " + why);
  }
  void skip() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
  }
  char peek() {
    skip();
    return i_ < s_.size() ? static_cast<char>(std::toupper(static_cast<unsigned char>(s_[i_])))
                          : '\0';
  }
  void expect(char c) {
    if (peek() != c) bad("unexpected character");
    ++i_;
  }
  // Unsigned count or width; -1 when absent.
  int number() {
    skip();
    int v = -1;
    auto [p, ec] = std::from_chars(s_.data() + i_, s_.data() + s_.size(), v);
    if (ec == std::errc::invalid_argument) return -1;
    if (ec != std::errc() || v < 0) bad("number out of range");
    i_ = static_cast<std::size_t>(p - s_.data());
    return v;
  }
  void push(const Op& op) {
    if (ops_.size() >= kMaxOps) bad("too many descriptors");
    ops_.push_back(op);
  }

  // item {',' item}; at top level records where the last group starts.
  void list(bool top, std::size_t& revert) {
    for (;;) {
      item(top, revert);
      if (peek() != ',') return;
      ++i_;
    }
  }

  void item(bool top, std::size_t& revert) {
    int r = number();
    if (r == 0) bad("zero repeat count");
    char c = peek();
    if (c == '(') {
      ++i_;
      std::size_t first = ops_.size();
      std::size_t inner_revert = 0;
      list(false, inner_revert);
      expect(')');
      std::size_t last = ops_.size();
      if (last == first) bad("empty group");
      for (int k = 1; k < (r < 0 ? 1 : r); ++k)
        for (std::size_t j = first; j < last; ++j) {
          Op copy = ops_[j];
          push(copy);
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
  std::vector<Op>& ops_;
};

}  // namespace

Format::Format(std::string_view text)
    : text_(text), ops_(std::make_unique<std::vector<Op>>()) {
  revert_ = Parser(text_, *ops_).parse();
}

Format::~Format() = default;

Format::Format(const Format& o)
    : text_(o.text_), ops_(std::make_unique<std::vector<Op>>(*o.ops_)), revert_(o.revert_) {}

Format& Format::operator=(const Format& o) {
  if (this != &o) {
    text_ = o.text_;
    *ops_ = *o.ops_;
    revert_ = o.revert_;
  }
  return *this;
}

}  // namespace textio
