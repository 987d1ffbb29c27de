// What a shard's dynap_shard.txt vouches for, and its check by the merge:
// after the shard's record (shard_record()), the identity of its study
// (lines `identity NAME = VALUE`: the program version, the options that
// decide the results, the bytes of each input file) and the length and
// FNV-1a hash of each result file it wrote (`result NAME = N bytes, fnv1a
// H`). The merge refuses a shard whose study differs from the first
// shard's, or whose files are not those it wrote (edited, cut short).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dynap/identity.h"
#include "dynap/options.h"

namespace bbtrack {

// "N bytes, fnv1a H".
std::string result_stamp(std::uint64_t size, std::uint64_t hash);

// The text of dynap_shard.txt; `results` holds (file name, stamp) pairs.
std::string shard_file_text(const std::string& record, const StudyIdentity& identity,
                            const std::vector<std::pair<std::string, std::string>>& results);

// A shard's folder as the merge sees it.
struct ShardFolder {
  std::string record;                                        // the lines before the identity's
  StudyIdentity identity;                                    // the study the shard ran
  std::vector<std::pair<std::string, std::string>> results;  // name, stamp
};

// Reads dynap_shard.txt of the folder; returns why it cannot be used, empty
// when it can.
std::string read_shard_folder(const std::string& dir, ShardFolder& out);

// Reads result file `name` of the folder whole, checking it against the
// stamp the shard recorded; returns why it cannot be used, empty when it can.
std::string read_shard_result(const std::string& dir, const ShardFolder& shard,
                              const std::string& name, std::string& bytes);

}  // namespace bbtrack
