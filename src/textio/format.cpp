// Formats parsed at run time: the parser of format_parser.h filling a
// vector, and its error report.
#include <stdexcept>
#include <string>

#include "textio/textio.h"

namespace textio {
namespace detail {
namespace {

struct VectorSink {
  std::vector<FormatOp>& ops;
  std::size_t size() const { return ops.size(); }
  void push(const FormatOp& op) { ops.push_back(op); }
  void copy(std::size_t j) {
    const FormatOp op = ops[j];
    ops.push_back(op);
  }
};

}  // namespace

void bad_format(std::string_view text, const char* why) {
  throw std::invalid_argument("bad format \"" + std::string(text) + "\": " + why);
}

}  // namespace detail

Format::Format(std::string_view text) : text_(text) {
  detail::VectorSink sink{ops_};
  revert_ = detail::FormatParser<detail::VectorSink>(text_, sink).parse();
}

}  // namespace textio
