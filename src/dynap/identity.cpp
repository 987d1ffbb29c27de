#include "dynap/identity.h"

#include <charconv>

#include "dynap/files.h"
#include "run/version.h"

namespace bbtrack {
namespace {

// Every input file a study may read.
constexpr const char* kInputs[] = {"diff.input",     "Matrices.dat",  "Sigmas.dat",
                                   "excluded.dat",   "wires.dat",     "multdist.dat",
                                   "multipoles.dat", "modulation.dat"};
constexpr std::string_view kInput = "input ";
constexpr std::string_view kAbsent = "absent";
// An input of more is no input of a study (and is not read whole).
constexpr std::uint64_t kInputLimit = std::uint64_t{1} << 32;

std::string number(double v) {
  std::string s;
  put_csv(s, v);
  return s;
}

std::string hex(std::uint64_t h) {
  char b[17];
  const auto r = std::to_chars(b, b + sizeof b, h, 16);
  return std::string(b, r.ptr);
}

std::string file_part(const char* name) {
  std::string bytes, why;
  if (!read_regular(name, kInputLimit, bytes, why))
    return why == "none" ? std::string(kAbsent) : why;
  return std::to_string(bytes.size()) + " bytes, fnv1a " + hex(fnv1a(kFnvBasis, bytes));
}

}  // namespace

std::string StudyIdentity::text() const {
  std::string t;
  for (const auto& [name, value] : parts) t += name + " = " + value + "\n";
  return t;
}

bool StudyIdentity::parse(std::string_view text, StudyIdentity& out) {
  out.parts.clear();
  while (!text.empty()) {
    const auto eol = text.find('\n');
    if (eol == std::string_view::npos) return false;
    const std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol + 1);
    const auto eq = line.find(" = ");
    if (eq == std::string_view::npos) return false;
    out.parts.emplace_back(line.substr(0, eq), line.substr(eq + 3));
  }
  return true;
}

StudyIdentity dynap_identity(const DynapOptions& o, int errf_mode) {
  StudyIdentity id;
  auto add = [&](std::string name, std::string value) {
    id.parts.emplace_back(std::move(name), std::move(value));
  };
  add("program", std::string("diff2wirenew ") + kVersion);
  add("--amplitudes", number(o.amp_from) + ":" + number(o.amp_to) + ":" + number(o.amp_step));
  add("--grid", o.grid_xy ? "xy" : "polar");
  if (!o.grid_xy) add("--angles", std::to_string(o.angles));
  add("--turns", std::to_string(o.turns));
  add("--window", std::to_string(o.window));
  add("--aperture", number(o.aperture));
  add("--threshold", number(o.threshold));
  add("--tbt", std::to_string(o.tbt));
  if (o.six_d || o.delta != 0.0 || o.z0 != 0.0) {
    add("--6d", o.six_d ? "on" : "off");
    add("--delta", number(o.delta));
    add("--z", number(o.z0));
  }
  add("--shard", o.shards > 0 ? std::to_string(o.shard) + "/" + std::to_string(o.shards) : "none");
  add("BBTRACK_ERRF", errf_mode == 0 ? "exact" : "fast");
  if (o.ring.empty()) {
    for (const char* name : kInputs) add(std::string(kInput) + name, file_part(name));
  } else {  // the general ring is tracked instead of the folder's files
    add("--ring", o.ring);
    add(std::string(kInput) + o.ring, file_part(o.ring.c_str()));
  }
  return id;
}

std::string identity_difference(const StudyIdentity& here, const StudyIdentity& there,
                                std::string_view here_name, std::string_view there_name,
                                const std::vector<std::string_view>& skip) {
  auto value = [](const StudyIdentity& id, const std::string& name) -> std::string {
    for (const auto& [n, v] : id.parts)
      if (n == name) return v;
    return "none";
  };
  std::vector<std::string> names;
  for (const auto& [n, v] : here.parts) names.push_back(n);
  for (const auto& [n, v] : there.parts)
    if (value(here, n) == "none") names.push_back(n);
  for (const std::string& name : names) {
    bool skipped = false;
    for (std::string_view s : skip) skipped = skipped || name == s;
    const std::string a = value(here, name), b = value(there, name);
    if (skipped || a == b) continue;
    const std::string what = name.rfind(kInput, 0) == 0
                                 ? "the input file " + name.substr(kInput.size())
                             : name == "program" ? std::string("the program version")
                                                 : "the option " + name;
    return what + " differs (" + a + " in " + std::string(here_name) + ", " + b + " in " +
           std::string(there_name) + ")";
  }
  return {};
}

}  // namespace bbtrack
