// Inside of the text layer: the unit table entry and the Io implementation
// shared by the statement files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "textio/textio.h"

namespace textio {

namespace detail {

// Statement kinds as they are named in the error line.
enum class Stmt { FormattedWrite, ListWrite, ListRead, FormattedRead, Open, Close };
const char* stmt_name(Stmt s);

// Fixed record layout of the list-directed write: item widths.
inline constexpr std::size_t kListIntWidth = 12;
inline constexpr std::size_t kListRealWidth = 25;
// A list-directed line is ended before it would reach this many columns.
inline constexpr std::size_t kListLineLimit = 80;

struct Unit {
  int number = 0;
  int fd = -1;
  std::string name;          // as given, trimmed and cut; shown in messages
  bool named = false;        // connected by name (takes part in the 207 check)
  bool owned = false;        // fd opened here, closed by close
  bool regular = false;      // truncation applies only to regular files
  bool gone = false;         // a standard stream whose reader has gone: output dropped
  bool cut_pending = false;  // set by the open of an existing file and by reads
  std::int64_t nrec = 0;     // ordinal of the record being or last read/written

  enum class Mode { None, Reading, Writing };
  Mode mode = Mode::None;

  // Output: whole records wait here until the buffer reaches `flush_at`
  // bytes (0 = after every statement).
  std::string obuf;
  std::size_t flush_at = 0;
  bool is_stderr = false;  // standard output is pushed out before it
  // The statement that put the newest records into obuf, for a failure
  // found when they are pushed out later by a flush of every unit.
  Stmt last_kind = Stmt::FormattedWrite;
  Loc last_loc;

  // Input: read-ahead buffer; ibase is the file offset of ibuf[0], so the
  // logical position (where the truncation cuts) is ibase + ipos.
  std::string ibuf;
  std::size_t ipos = 0;
  std::int64_t ibase = 0;
  bool ieof = false;
};

}  // namespace detail

struct Io::Impl {
  using Stmt = detail::Stmt;
  using Unit = detail::Unit;

  explicit Impl(Options o);

  Options opt;
  std::vector<std::unique_ptr<Unit>> units;  // in order of connection
  std::string token;                         // scratch of the list-directed reader

  const char* env(const char* name) const;
  // Where a (trimmed) file name is looked for: relative names in opt.dir.
  std::string path_of(std::string_view name) const;
  Unit* find(int unit);
  Unit* find_name(std::string_view name);

  // Unit table (units.cpp).
  Unit& connect(int unit, std::string_view name, Stmt kind, Loc loc, bool must_exist);
  // The same for the program's inputs (read only, regular files) and
  // results (never through a symbolic link, emptied).
  Unit& connect_input(int unit, std::string_view name, Loc loc);
  Unit& connect_result(int unit, std::string_view name, Loc loc);
  // Shared part of the connects: the 207 check, the close of what the unit
  // held, the name as stored; nullptr when the unit already holds the name.
  Unit* prepare(int unit, std::string_view& name, Stmt kind, Loc loc);
  Unit& add(int unit, std::string_view name, int fd, bool cut_pending, Stmt kind, Loc loc);
  // The name as a person finds it: "NAME in FOLDER", or the path itself.
  std::string shown(std::string_view name) const;
  void disconnect(Unit& u, Stmt kind, Loc loc, bool report);
  void close_all(bool report);
  Unit& for_write(int unit, Stmt kind, Loc loc);
  void end_write(Unit& u, Stmt kind, Loc loc);
  Unit& for_read(int unit, Stmt kind, Loc loc);
  // Next line of a unit without its "\n"; false at the end of the file.
  // The view is valid until the next call for the same unit.
  bool next_line(Unit& u, std::string_view& line, Stmt kind, Loc loc);
  // Push out the buffered records; a host failure goes to the error exit
  // when `report`, is dropped otherwise.
  void flush_unit(Unit& u, Stmt kind, Loc loc, bool report);
  // After a failed write of which `done` bytes reached the file: cut it back
  // to its last whole record, and say how it ends.
  void cut_to_record(Unit& u, std::size_t done);
  void flush_all(bool report);
  void flush_stdout(bool report);

  // List-directed read (listread.cpp).
  class Reader;
  bool list_read(int unit, std::initializer_list<Target> items, bool eof_branch, Loc loc);

  // Error exit (error_exit.cpp): message, every unit flushed, Exit{1}.
  // The record ordinal shown is the unit's counter, which every statement
  // advances before it starts a record.
  [[noreturn]] void fail(int code, const char* text, Stmt kind, int unit, Loc loc);
  [[noreturn]] void host_fail(int err, Stmt kind, int unit, Loc loc);
  [[noreturn]] void finish_fail(std::string& msg, int unit, Loc loc);
  // One diagnostic line of the program on standard error (after standard
  // output), "<program>: error: <sentence>".
  void diagnose(std::string_view sentence);
  // A file the run must not use as it stands: the line, then Exit{status}.
  [[noreturn]] void refuse(std::string_view sentence, int status);
};

// The absolute path of the folder in which relative names are resolved.
std::string folder_of(const std::string& dir);

// Raw output to a file descriptor: 0, or the errno of the failure; the
// bytes written before a failure are added to *done when given.
int write_fd(int fd, const char* p, std::size_t n, std::size_t* done = nullptr);

// Non-finite values under F, E and list-directed output: "inf", "-inf",
// "nan" or "-nan", right-justified in w columns.
bool put_nonfinite(std::string& out, double value, int w);

}  // namespace textio
