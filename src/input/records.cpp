#include "input/records.h"

#include <charconv>
#include <cmath>
#include <string>

#include "run/messages.h"

namespace bbtrack {
namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}
bool is_comment(char c) {
  return c == '#' || c == '!';
}

// A value as a message shows it: in quotes, bytes outside printable ASCII
// (a byte-order mark, a NUL, binary junk) and the quote itself as \xNN, and
// a long one cut to its first kShownBytes bytes with its length said.
constexpr std::size_t kShownBytes = 32;

std::string shown(std::string_view f) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string s = "'";
  const std::size_t n = f.size() < kShownBytes ? f.size() : kShownBytes;
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(f[i]);
    if (c >= 0x20 && c < 0x7f && c != '\'' && c != '\\') {
      s += static_cast<char>(c);
    } else {
      s += "\\x";
      s += kHex[c >> 4];
      s += kHex[c & 15];
    }
  }
  s += n < f.size() ? "...' (" + std::to_string(f.size()) + " bytes)" : "'";
  if (f.starts_with("\xEF\xBB\xBF")) s += " (a UTF-8 byte-order mark begins it)";
  return s;
}

}  // namespace

RecordReader::RecordReader(textio::Io& io, int unit, std::string_view file)
    : io_(io), unit_(unit), file_(file) {
  io_.open_input(unit_, file_);
}

bool RecordReader::next() {
  while (io_.read_text_line_or_eof(unit_, line_)) {
    fields_.clear();
    const std::string_view s = line_;
    std::size_t i = 0;
    // Values between separators; a comma with nothing before it since the
    // last one is an empty (null) value.
    bool after_comma = false;
    while (i < s.size()) {
      if (is_blank(s[i])) {
        ++i;
        continue;
      }
      if (is_comment(s[i])) break;
      if (s[i] == ',') {
        if (after_comma || fields_.empty()) fields_.push_back({});
        after_comma = true;
        ++i;
        continue;
      }
      std::size_t j = i;
      while (j < s.size() && !is_blank(s[j]) && s[j] != ',' && !is_comment(s[j])) ++j;
      fields_.push_back(s.substr(i, j - i));
      after_comma = false;
      i = j;
    }
    if (!fields_.empty()) {
      ++number_;
      return true;
    }
  }
  return false;
}

void RecordReader::refuse(const std::string& text) const {
  error(io_, file_ + ": record " + num(number_) + ": " + text);
  io_.terminate(1);
}

std::string_view RecordReader::field(int32 i, std::string_view what) const {
  if (i >= size()) refuse("a value is missing (" + std::string(what) + ")");
  if (fields_[static_cast<std::size_t>(i)].empty()) refuse("a value is missing (null value)");
  return fields_[static_cast<std::size_t>(i)];
}

int32 RecordReader::integer(int32 i, std::string_view what) const {
  const std::string_view f = field(i, what);
  int32 v = 0;
  const char* b = f.data();
  if (*b == '+') ++b;
  const auto r = std::from_chars(b, f.data() + f.size(), v);
  if (r.ec != std::errc() || r.ptr != f.data() + f.size() || b == f.data() + f.size())
    refuse(std::string(what) + " " + shown(f) + " is not a whole number");
  return v;
}

double RecordReader::real(int32 i, std::string_view what) const {
  const std::string_view f = field(i, what);
  // The exponent letters of the other input files: 1.0d-3 and 1.0D-3 as 1.0e-3.
  std::string t(f);
  for (char& c : t)
    if (c == 'd' || c == 'D') c = 'e';
  const char* b = t.data();
  if (*b == '+') ++b;
  double v = 0.0;
  const auto r = std::from_chars(b, t.data() + t.size(), v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size() || b == t.data() + t.size() ||
      !std::isfinite(v))
    refuse(std::string(what) + " " + shown(f) + " is not a finite number");
  return v;
}

int32 RecordReader::plane(int32 i, std::string_view what) const {
  const std::string_view f = field(i, what);
  if (f == "x" || f == "X") return 1;
  if (f == "y" || f == "Y") return 2;
  refuse(std::string(what) + " " + shown(f) + " is neither x nor y");
}

}  // namespace bbtrack
