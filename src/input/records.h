// Records of the optional input files that take comments (multipoles.dat,
// modulation.dat, wires.dat): one record per line, values separated by
// blanks or commas. A line whose first non-blank character is '#' or '!' is
// a comment, and so is the rest of a line from such a character after the
// values; blank lines are skipped. A bad record ends the run with one line
// "diff2wirenew: error: FILE: record N: ..." (N counts the records, not the
// lines) and exit status 1.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "run/state.h"
#include "textio/textio.h"

namespace bbtrack {

class RecordReader {
 public:
  // Opens the file on the unit; the caller has checked that it exists.
  RecordReader(textio::Io& io, int unit, std::string_view file);
  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;

  // The next record's values; false at the end of the file.
  bool next();
  // Closes the unit after the last record.
  void close() { io_.close(unit_); }
  int32 number() const { return number_; }  // of the record last read, from 1
  int32 size() const { return static_cast<int32>(fields_.size()); }

  // Value i (from 0) of the record as an integer, a real or a plane name
  // ('x' or 'y', either case: 1 or 2); a missing, empty, unconvertible or
  // non-finite value ends the run. `what` names the value in the message.
  int32 integer(int32 i, std::string_view what) const;
  double real(int32 i, std::string_view what) const;
  int32 plane(int32 i, std::string_view what) const;

  // Ends the run with "FILE: record N: <text>".
  [[noreturn]] void refuse(const std::string& text) const;

 private:
  std::string_view field(int32 i, std::string_view what) const;

  textio::Io& io_;
  int unit_;
  std::string file_;
  std::string line_;
  std::vector<std::string_view> fields_;
  int32 number_ = 0;
};

}  // namespace bbtrack
