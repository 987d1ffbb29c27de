#include "dynap/shard_check.h"

#include <charconv>

#include "dynap/files.h"
#include "dynap/summary.h"

namespace bbtrack {
namespace {

constexpr std::string_view kIdentity = "identity ", kResult = "result ";
// A shard's record is a few kilobytes; its result files are read whole.
constexpr std::uint64_t kRecordLimit = std::uint64_t{1} << 20;
constexpr std::uint64_t kResultLimit = std::uint64_t{1} << 40;

}  // namespace

std::string result_stamp(std::uint64_t size, std::uint64_t hash) {
  char b[17];
  const auto r = std::to_chars(b, b + sizeof b, hash, 16);
  return std::to_string(size) + " bytes, fnv1a " + std::string(b, r.ptr);
}

std::string shard_file_text(const std::string& record, const StudyIdentity& identity,
                            const std::vector<std::pair<std::string, std::string>>& results) {
  std::string t = record;
  for (const auto& [name, value] : identity.parts)
    t += std::string(kIdentity) + name + " = " + value + "\n";
  for (const auto& [name, stamp] : results) t += std::string(kResult) + name + " = " + stamp + "\n";
  return t;
}

std::string read_shard_folder(const std::string& dir, ShardFolder& out) {
  std::string text, why;
  if (!read_regular(path_of(dir, kShardFile), kRecordLimit, text, why))
    return why == "none" ? std::string("no ") + kShardFile + ": the shard did not finish"
                         : std::string(kShardFile) + " is " + why;
  std::string_view rest = text;
  std::string ids;
  out = ShardFolder{};
  while (!rest.empty()) {
    const auto eol = rest.find('\n');
    if (eol == std::string_view::npos) return std::string(kShardFile) + " is cut short";
    const std::string_view line = rest.substr(0, eol + 1);
    rest.remove_prefix(eol + 1);
    if (line.rfind(kIdentity, 0) == 0) {
      ids += line.substr(kIdentity.size());
    } else if (line.rfind(kResult, 0) == 0) {
      const std::string_view r = line.substr(kResult.size(), line.size() - kResult.size() - 1);
      const auto eq = r.find(" = ");
      if (eq == std::string_view::npos) return std::string(kShardFile) + " is damaged";
      out.results.emplace_back(r.substr(0, eq), r.substr(eq + 3));
    } else if (ids.empty() && out.results.empty()) {
      out.record += line;
    } else {
      return std::string(kShardFile) + " is damaged";
    }
  }
  if (ids.empty() || !StudyIdentity::parse(ids, out.identity) || out.results.empty())
    return std::string(kShardFile) +
           " records no study identity or result files (written by an earlier version?)";
  return {};
}

std::string read_shard_result(const std::string& dir, const ShardFolder& shard,
                              const std::string& name, std::string& bytes) {
  const std::string* stamp = nullptr;
  for (const auto& [n, s] : shard.results)
    if (n == name) stamp = &s;
  if (!stamp) return std::string(kShardFile) + " records no " + name;
  std::string why;
  if (!read_regular(path_of(dir, name), kResultLimit, bytes, why))
    return why == "none" ? "no " + name : name + " is " + why;
  const std::string got = result_stamp(bytes.size(), fnv1a(kFnvBasis, bytes));
  if (got == *stamp) return {};
  const std::string want_size = stamp->substr(0, stamp->find(' '));
  if (std::to_string(bytes.size()) != want_size)
    return name + " is not the file the shard wrote: " + std::to_string(bytes.size()) +
           " bytes, the shard wrote " + want_size + " (cut short or added to)";
  return name + " is not the file the shard wrote: its hash differs (edited or damaged)";
}

}  // namespace bbtrack
