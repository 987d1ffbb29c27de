// The text layer: every file and standard stream of a run is read and written
// through one Io object, record by record, with fixed field layouts.
//
// Units are small integers naming connected files (0 = standard error,
// 5 = standard input, 6 = standard output are connected from the start).
// Any failure of an I/O statement ends the run at once through one error
// exit: a three-line message on standard error, every record already
// written kept in its file, then textio::Exit{1} is thrown for the program
// entry to turn into the exit status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <source_location>
#include <string>
#include <string_view>
#include <vector>

#include "textio/format_parser.h"

namespace textio {

// The units connected from the start.
inline constexpr int kStderrUnit = 0;
inline constexpr int kStdinUnit = 5;
inline constexpr int kStdoutUnit = 6;

#if defined(__cpp_lib_source_location)
using Loc = std::source_location;
#else
// A library without std::source_location (libstdc++ 12 under clang 14):
// the same two values of the failing statement, from the compiler.
class Loc {
 public:
  static constexpr Loc current(const char* file = __builtin_FILE(),
                               unsigned line = __builtin_LINE()) noexcept {
    Loc l;
    l.file_ = file;
    l.line_ = line;
    return l;
  }
  constexpr const char* file_name() const noexcept { return file_; }
  constexpr unsigned line() const noexcept { return line_; }

 private:
  const char* file_ = "";
  unsigned line_ = 0;
};
#endif

// Thrown to end the run (error exit: 1, stop and library hard failure: 0).
// By the time it is thrown every unit has been flushed.
struct Exit {
  int status;
};

// One item of an output list: INTEGER, REAL*8 or CHARACTER (whole value,
// declared length, trailing blanks included).
struct Item {
  enum class Kind { Int, Real, Text };
  Kind kind;
  std::int32_t i = 0;
  double d = 0.0;
  std::string_view s;
  Item(std::int32_t v) : kind(Kind::Int), i(v) {}
  Item(double v) : kind(Kind::Real), d(v) {}
  Item(std::string_view v) : kind(Kind::Text), s(v) {}
  Item(const char* v) : kind(Kind::Text), s(v) {}
  Item(const std::string& v) : kind(Kind::Text), s(v) {}
};

// One item of an input list. A text item has a declared length: the value
// read is stored left-justified, cut or blank-padded to that length.
struct Target {
  enum class Kind { Int, Real, Text };
  Kind kind;
  std::int32_t* i = nullptr;
  double* d = nullptr;
  std::string* s = nullptr;
  std::size_t len = 0;
  Target(std::int32_t& v) : kind(Kind::Int), i(&v) {}
  Target(double& v) : kind(Kind::Real), d(&v) {}
  Target(std::string& v, std::size_t declared_len) : kind(Kind::Text), s(&v), len(declared_len) {}
};

// An edit-descriptor format such as "(1X,I5,4(1X,E10.4))" parsed at run
// time, once, from any text. The program's own formats are fixed_format
// objects (textio/format_parser.h), parsed when it is compiled.
// Supported: Iw, Fw.d, Ew.d, nX, Aw, repeat counts and parenthesised groups.
// A malformed text is a programming error (std::invalid_argument).
class Format {
 public:
  using Op = FormatOp;
  explicit Format(std::string_view text);
  std::string_view text() const { return text_; }
  const std::vector<Op>& ops() const { return ops_; }
  // Where the walk resumes when items remain at the end of the format: the
  // start of the last top-level group, or of the whole format without one.
  std::size_t reversion() const { return revert_; }
  operator FormatRef() const { return {text_, ops_, revert_}; }

 private:
  std::string text_;
  std::vector<Op> ops_;
  std::size_t revert_ = 0;
};

// Settings of an Io, for the program (defaults) and for tests.
struct Options {
  int stdout_fd = 1;
  int stderr_fd = 2;
  int stdin_fd = 0;
  // Directory in which relative file names are resolved; empty = current.
  std::string dir;
  // Environment lookup (FORnnn, NO_STOP_MESSAGE); nullptr result = unset.
  std::function<const char*(const char*)> getenv;
  // Name that begins the layer's own diagnostic lines ("<program>: error: ").
  std::string program = "diff2wirenew";
};

class Io {
 public:
  Io();
  explicit Io(Options options);
  ~Io();  // closes every unit, as the normal end of the program does
  Io(const Io&) = delete;
  Io& operator=(const Io&) = delete;

  // Connect a unit to a named file (unknown status, sequential, formatted).
  void open(int unit, std::string_view name, Loc loc = Loc::current());
  // Connect a unit to an input file: opened for reading only, and it must
  // be a regular file (a FIFO, a directory or a device is refused with an
  // error line and Exit{1}, before anything is read, so a FIFO cannot hang
  // the run). A missing file is created empty, as open does, but never at
  // the end of a symbolic link.
  void open_input(int unit, std::string_view name, Loc loc = Loc::current());
  // Connect a unit to a result file: opened for writing and emptied at once,
  // created when missing. A symbolic link in its place is refused with an
  // error line naming the file and Exit{1}: nothing is written through a
  // link. A file that cannot be written fails here, not at its first write.
  void open_result(int unit, std::string_view name, Loc loc = Loc::current());
  // The file an unconnected unit is written to: the value of "FORnnn" when
  // set, otherwise "fort.n".
  std::string default_name(int unit) const;
  // Where open looks for a file of this name (relative names in the folder).
  std::string path(std::string_view name) const;
  // Flush, close and keep the file; an unconnected unit is left alone.
  void close(int unit, Loc loc = Loc::current());

  // Formatted write: exactly one record (items left over at the end of the
  // format start a further record from the format's last top-level group).
  // An item whose kind does not fit its descriptor (INTEGER under E, text
  // under I, ...) is a programming error (std::invalid_argument).
  void write(int unit, FormatRef format, std::initializer_list<Item> items,
             Loc loc = Loc::current());
  // List-directed write: one or more records of at most 79 columns.
  void print(int unit, std::initializer_list<Item> items, Loc loc = Loc::current());
  // Write one record with the format (A): the bare text and a line end.
  void write_record(int unit, std::string_view text, Loc loc = Loc::current());

  // List-directed read without an end-of-file branch.
  void read(int unit, std::initializer_list<Target> items, Loc loc = Loc::current());
  // List-directed read with an end-of-file branch: false at the end of the
  // file (items not yet read keep their values), true otherwise.
  bool read_or_eof(int unit, std::initializer_list<Target> items, Loc loc = Loc::current());
  // Formatted read with (A80): the next line, cut or blank-padded to 80.
  void read_line(int unit, std::string& line, Loc loc = Loc::current());
  // The next line whole, without its line end and without a cut, for the
  // record readers of the optional inputs; false at the end of the file.
  bool read_text_line_or_eof(int unit, std::string& line, Loc loc = Loc::current());

  // STOP: the stop notice on standard error (unless NO_STOP_MESSAGE is
  // defined), every unit closed, then Exit{status}.
  [[noreturn]] void stop(int status = 0);
  // End the run at once with the given status after flushing every unit,
  // without a message of its own (library hard failure).
  [[noreturn]] void terminate(int status);
  // Normal end of the main program: close every unit (also done by ~Io).
  void finish();

  // Flush every connected unit: the files first, then standard output.
  void flush();
  // Flush one unit (e.g. 6, so that a person following the output sees a
  // line as soon as it is written); an unconnected unit is left alone.
  void flush(int unit, Loc loc = Loc::current());

  // Whether a file of this name exists where open would look for it (an
  // optional input is opened only when present, so nothing is created), and
  // the absolute path of the folder in which relative names are resolved.
  bool exists(std::string_view name) const;
  std::string folder() const;


 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Number-to-text conversions of the formatted and list-directed writes,
// exposed for tests and benchmarks. Each appends exactly one field.
void put_i(std::string& out, std::int32_t value, int w);
void put_f(std::string& out, double value, int w, int d);
void put_e(std::string& out, double value, int w, int d);
void put_list_real(std::string& out, double value);  // 25 columns
void put_list_int(std::string& out, std::int32_t value);  // I12

}  // namespace textio
