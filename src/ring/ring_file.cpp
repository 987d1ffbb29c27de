#include "ring/ring_file.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string_view>

namespace bbtrack {
namespace {

enum class Type { real, integer, text, list, plane };

struct FieldSpec {
  std::string_view key;
  bool required;
  Type type;
};

// The fields of each record. A new element is one more entry here, one
// more keyword in kKeywords and its reading in read_element (and its
// kick in ring/ring_setup.cpp).
constexpr FieldSpec kBeam[] = {
    {"gamma", true, Type::real}, {"emitn", true, Type::real}, {"emitny", false, Type::real}};
constexpr FieldSpec kModulation[] = {{"plane", true, Type::plane},
                                     {"dq", true, Type::real},
                                     {"period", true, Type::real},
                                     {"phase", true, Type::real}};
constexpr FieldSpec kMatrix[] = {{"name", false, Type::text}, {"m", true, Type::list}};
constexpr FieldSpec kEncounter[] = {{"name", false, Type::text}, {"npart", true, Type::real},
                                    {"sigx", true, Type::real},  {"sigy", true, Type::real},
                                    {"sepx", false, Type::real}, {"sepy", false, Type::real}};
constexpr FieldSpec kWire[] = {
    {"name", false, Type::text},    {"x", true, Type::real},          {"y", true, Type::real},
    {"current", true, Type::real},  {"length", true, Type::real},     {"ripple", false, Type::real},
    {"period", false, Type::real},  {"phase", false, Type::real},     {"noise", false, Type::real},
    {"seed", false, Type::integer}};
constexpr FieldSpec kMultipole[] = {{"name", false, Type::text},
                                    {"n", true, Type::integer},
                                    {"kn", true, Type::real},
                                    {"sn", true, Type::real}};
// ---- encounter6d: the six-dimensional (synchro-beam) encounter ----
// Tracked by kicks/beam_beam_6d.h; its constants are made in ring_setup.cpp.
constexpr FieldSpec kEncounter6d[] = {
    {"name", false, Type::text},   {"npart", true, Type::real},   {"sigx", true, Type::real},
    {"sigy", true, Type::real},    {"betx", true, Type::real},    {"bety", true, Type::real},
    {"alfx", false, Type::real},   {"alfy", false, Type::real},   {"sigz", true, Type::real},
    {"slices", true, Type::integer}, {"phi", true, Type::real},   {"plane", false, Type::plane},
    {"sepx", false, Type::real},   {"sepy", false, Type::real}};

struct Keyword {
  std::string_view word;
  const FieldSpec* fields;
  std::size_t count;
};
template <std::size_t N>
constexpr Keyword keyword(std::string_view w, const FieldSpec (&f)[N]) {
  return {w, f, N};
}
constexpr Keyword kKeywords[] = {keyword("beam", kBeam),           keyword("modulation", kModulation),
                                 keyword("matrix", kMatrix),       keyword("encounter", kEncounter),
                                 keyword("wire", kWire),           keyword("multipole", kMultipole),
                                 keyword("encounter6d", kEncounter6d)};
constexpr std::string_view kKeywordList =
    "beam, modulation, matrix, encounter, wire, multipole, encounter6d";

// A number as C or Fortran writes it (1.5, -2e-3, 1.0d-3), finite.
bool real_of(std::string_view s, double& v) {
  std::string t(s);
  for (char& c : t)
    if (c == 'd' || c == 'D') c = 'e';
  if (t.empty() || t[0] == '+') t.erase(0, t.empty() ? 0 : 1);
  if (t.empty()) return false;
  const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
  return r.ec == std::errc() && r.ptr == t.data() + t.size() && std::isfinite(v);
}

// 'TEXT' of a message.
std::string quoted(std::string_view text) {
  std::string q;
  q.reserve(text.size() + 2);
  q += '\'';
  q.append(text.data(), text.size());
  q += '\'';
  return q;
}

bool integer_of(std::string_view s, std::int64_t& v) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// The values of one record, checked against its keyword's fields.
class Record {
 public:
  Record(const std::string& path, int line, const Keyword& kw, std::vector<std::string>& errors)
      : path_(path), line_(line), kw_(kw), errors_(errors) {}

  void bad(std::string_view field, std::string_view why) {
    errors_.push_back(path_ + ":" + std::to_string(line_) + ": " + std::string(field) + ": " +
                      std::string(why));
  }

  // Takes the key=value tokens; false after a bad one.
  void take(const std::vector<std::string_view>& tokens) {
    for (std::size_t i = 1; i < tokens.size(); ++i) {
      const std::string_view t = tokens[i];
      const auto eq = t.find('=');
      if (eq == std::string_view::npos || eq == 0) {
        bad(t, "not a key=value field");
        continue;
      }
      const std::string_view key = t.substr(0, eq), value = t.substr(eq + 1);
      const FieldSpec* spec = nullptr;
      for (std::size_t f = 0; f < kw_.count; ++f)
        if (kw_.fields[f].key == key) spec = &kw_.fields[f];
      if (spec == nullptr) {
        std::string known;
        for (std::size_t f = 0; f < kw_.count; ++f)
          known += (f ? ", " : "") + std::string(kw_.fields[f].key);
        bad(key, "unknown key of " + std::string(kw_.word) + " (its keys: " + known + ")");
        continue;
      }
      if (seen(key)) {
        bad(key, "given twice");
        continue;
      }
      if (value.empty()) {
        bad(key, "no value");
        continue;
      }
      keys_.push_back(key);
      values_.push_back(value);
    }
    for (std::size_t f = 0; f < kw_.count; ++f)
      if (kw_.fields[f].required && !seen(kw_.fields[f].key)) bad(kw_.fields[f].key, "missing");
  }

  bool seen(std::string_view key) const {
    for (std::string_view k : keys_)
      if (k == key) return true;
    return false;
  }

  std::string_view value(std::string_view key) const {
    for (std::size_t i = 0; i < keys_.size(); ++i)
      if (keys_[i] == key) return values_[i];
    return {};
  }

  // A real value (def when absent); a bad number is said.
  double real(std::string_view key, double def = 0.0) {
    if (!seen(key)) return def;
    double v = 0.0;
    if (!real_of(value(key), v)) {
      bad(key, quoted(value(key)) + " is not a finite number");
      return def;
    }
    return v;
  }

  std::int64_t integer(std::string_view key, std::int64_t def = 0) {
    if (!seen(key)) return def;
    std::int64_t v = 0;
    if (!integer_of(value(key), v)) {
      bad(key, quoted(value(key)) + " is not a whole number");
      return def;
    }
    return v;
  }

  int plane(std::string_view key) {
    if (!seen(key)) return 1;
    const std::string_view v = value(key);
    if (v == "x") return 1;
    if (v == "y") return 2;
    bad(key, quoted(v) + " is not a plane (x or y)");
    return 1;
  }

  std::vector<double> list(std::string_view key) {
    std::vector<double> out;
    std::string_view v = value(key);
    std::size_t at = 0;
    while (at <= v.size()) {
      const std::size_t comma = std::min(v.find(',', at), v.size());
      double x = 0.0;
      if (!real_of(v.substr(at, comma - at), x)) {
        bad(key, "coefficient " + std::to_string(out.size() + 1) + " " +
                     quoted(v.substr(at, comma - at)) + " is not a finite number");
        return {};
      }
      out.push_back(x);
      at = comma + 1;
    }
    return out;
  }

  // A check of a value read: bad(key, why) unless ok.
  void require(bool ok, std::string_view key, std::string_view why) {
    if (!ok) bad(key, why);
  }

  int line() const { return line_; }

 private:
  const std::string& path_;
  int line_;
  const Keyword& kw_;
  std::vector<std::string>& errors_;
  std::vector<std::string_view> keys_, values_;
};

void read_encounter_fields(Record& r, RingElement& e) {
  e.npart = r.real("npart");
  e.sigx = r.real("sigx");
  e.sigy = r.real("sigy");
  e.sepx = r.real("sepx");
  e.sepy = r.real("sepy");
  r.require(!r.seen("sigx") || e.sigx > 0.0, "sigx", "a size > 0 (mm)");
  r.require(!r.seen("sigy") || e.sigy > 0.0, "sigy", "a size > 0 (mm)");
}

// The element of a record, checked value by value.
RingElement read_element(Record& r, RingKind kind) {
  RingElement e;
  e.kind = kind;
  e.line = r.line();
  e.name = std::string(r.value("name"));
  switch (kind) {
    case RingKind::matrix: {
      if (!r.seen("m")) break;
      e.m = r.list("m");
      if (!e.m.empty() && e.m.size() != 16 && e.m.size() != 36)
        r.bad("m", std::to_string(e.m.size()) +
                       " coefficients; accepted: 16 (4x4) or 36 (6x6), row by row");
      break;
    }
    case RingKind::encounter:
      read_encounter_fields(r, e);
      break;
    case RingKind::wire: {
      e.x = r.real("x");
      e.y = r.real("y");
      e.current = r.real("current");
      e.length = r.real("length");
      if (r.seen("length")) r.require(e.length > 0.0, "length", "a length > 0 (m)");
      e.rippled = r.seen("ripple") || r.seen("period") || r.seen("phase") || r.seen("noise") ||
                  r.seen("seed");
      e.ripple = r.real("ripple");
      e.period = r.real("period", 1.0);
      e.phase = r.real("phase");
      e.noise = r.real("noise");
      e.seed = r.integer("seed", -1);
      if (r.seen("ripple") && !r.seen("period"))
        r.bad("period", "missing: a ripple needs its period (turns)");
      if (r.seen("period")) r.require(e.period > 0.0, "period", "a period > 0 (turns)");
      if (r.seen("noise")) r.require(e.noise >= 0.0, "noise", "a relative r.m.s. noise >= 0");
      if (r.seen("seed")) r.require(e.seed >= 0 && e.seed <= INT32_MAX, "seed",
                                    "a whole number from 0 to 2147483647");
      break;
    }
    case RingKind::multipole: {
      const std::int64_t n = r.integer("n");
      e.order = static_cast<int>(std::clamp<std::int64_t>(n, 0, 100));
      if (r.seen("n") && (n < 1 || n > 10))
        r.bad("n", "order " + std::string(r.value("n")) + " is outside 1 ... 10" +
                       (n == 0 ? " (a dipole would move the closed orbit)" : ""));
      e.kn = r.real("kn");
      e.sn = r.real("sn");
      break;
    }
    case RingKind::encounter6d: {
      read_encounter_fields(r, e);
      e.betx = r.real("betx");
      e.bety = r.real("bety");
      e.alfx = r.real("alfx");
      e.alfy = r.real("alfy");
      e.sigz = r.real("sigz");
      e.phi = r.real("phi");
      e.plane = r.plane("plane");
      const std::int64_t ns = r.integer("slices");
      e.slices = static_cast<int>(std::clamp<std::int64_t>(ns, 0, 1'000'000));
      if (r.seen("betx")) r.require(e.betx > 0.0, "betx", "a beta function > 0 (m)");
      if (r.seen("bety")) r.require(e.bety > 0.0, "bety", "a beta function > 0 (m)");
      if (r.seen("sigz")) r.require(e.sigz > 0.0, "sigz", "a bunch length > 0 (m)");
      if (r.seen("slices"))
        r.require(ns >= 1 && ns <= 1'000'000, "slices", "a whole number from 1 to 1000000");
      if (r.seen("phi"))
        r.require(std::fabs(e.phi) < 0.5, "phi", "a half crossing angle |phi| < 0.5 (rad)");
      break;
    }
  }
  return e;
}

// The blank-separated tokens of a line, its comment removed.
std::vector<std::string_view> tokens_of(std::string_view line) {
  const std::size_t c = line.find_first_of("#!");
  if (c != std::string_view::npos) line = line.substr(0, c);
  std::vector<std::string_view> t;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) t.push_back(line.substr(start, i - start));
  }
  return t;
}

}  // namespace

RingFile parse_ring(const std::string& path, const std::string& text,
                    std::vector<std::string>& errors) {
  RingFile rf;
  rf.path = path;
  auto file_bad = [&](std::string_view field, std::string_view why) {
    errors.push_back(path + ": " + std::string(field) + ": " + std::string(why));
  };
  bool version = false, beam = false;
  int no = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + at, end - at);
    at = end + 1;
    ++no;
    const auto t = tokens_of(line);
    if (t.empty()) continue;
    if (!version) {
      version = true;
      if (!(t.size() == 2 && t[0] == "bbtrack-ring" && t[1] == "1")) {
        errors.push_back(path + ":" + std::to_string(no) + ": version: the first line is not `" +
                         kRingVersion + "`");
        return rf;  // another format: its lines mean nothing here
      }
      continue;
    }
    const Keyword* kw = nullptr;
    for (const Keyword& k : kKeywords)
      if (k.word == t[0]) kw = &k;
    if (kw == nullptr) {
      errors.push_back(path + ":" + std::to_string(no) + ": " + std::string(t[0]) +
                       ": unknown keyword (known: " + std::string(kKeywordList) + ")");
      continue;
    }
    Record r(path, no, *kw, errors);
    r.take(t);
    if (kw->word == "beam") {
      if (beam) r.bad("beam", "given twice; the ring has one beam record");
      if (!rf.elements.empty()) r.bad("beam", "after the first element; it comes before them");
      beam = true;
      rf.gamma = r.real("gamma");
      rf.emitn = r.real("emitn");
      rf.emitny = r.real("emitny", rf.emitn);
      if (r.seen("gamma")) r.require(rf.gamma > 1.0, "gamma", "a Lorentz factor > 1");
      if (r.seen("emitn")) r.require(rf.emitn > 0.0, "emitn", "an emittance > 0 (m rad)");
      if (r.seen("emitny")) r.require(rf.emitny > 0.0, "emitny", "an emittance > 0 (m rad)");
    } else if (kw->word == "modulation") {
      RingModulation m;
      m.plane = r.plane("plane");
      m.dq = r.real("dq");
      m.period = r.real("period");
      m.phase = r.real("phase");
      if (r.seen("period")) r.require(m.period > 0.0, "period", "a period > 0 (turns)");
      rf.modulation.push_back(m);
    } else {
      const RingKind kind = kw->word == "matrix"      ? RingKind::matrix
                            : kw->word == "encounter" ? RingKind::encounter
                            : kw->word == "wire"      ? RingKind::wire
                            : kw->word == "multipole" ? RingKind::multipole
                                                      : RingKind::encounter6d;
      if (rf.elements.size() >= kMaxRingElements) {
        r.bad(kw->word, "more than " + std::to_string(kMaxRingElements) + " elements");
        return rf;
      }
      rf.elements.push_back(read_element(r, kind));
      if (kind == RingKind::encounter || kind == RingKind::encounter6d) ++rf.encounters;
    }
  }
  if (!version) {
    file_bad("version", std::string("no version line `") + kRingVersion + "`");
    return rf;
  }
  if (!beam) file_bad("beam", "no beam record (gamma=, emitn=)");
  if (rf.elements.empty()) file_bad("elements", "the ring has no element");
  return rf;
}

RingFile read_ring_file(const std::string& path, std::vector<std::string>& errors) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    errors.push_back(path + ": file: cannot be read");
    return {};
  }
  std::ostringstream s;
  s << in.rdbuf();
  return parse_ring(path, s.str(), errors);
}

}  // namespace bbtrack
