// The identity of a study: what decides its results, part by part (the
// program version, each option that decides a result, the error
// function's mode and the bytes of each input file), so that a checkpoint
// or a shard of another study is refused naming what differs. The thread
// count, --quiet, --checkpoint-interval and --out change no result and are
// not part of it.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dynap/options.h"

namespace bbtrack {

struct StudyIdentity {
  std::vector<std::pair<std::string, std::string>> parts;  // name, value

  // One line `name = value` per part.
  std::string text() const;
  // The parts of `text()`; false when it is not such text.
  static bool parse(std::string_view text, StudyIdentity& out);
};

// The identity of the study of these options, reading the input files of
// the current folder (a missing one counts as absent).
StudyIdentity dynap_identity(const DynapOptions& o, int errf_mode);

// The first part in which `here` differs from `there`, as a clause for a
// message naming the option or input file and both values (the studies
// named `here_name` and `there_name`); empty when none does. Parts named
// in `skip` are not compared.
std::string identity_difference(const StudyIdentity& here, const StudyIdentity& there,
                                std::string_view here_name, std::string_view there_name,
                                const std::vector<std::string_view>& skip = {});

}  // namespace bbtrack
