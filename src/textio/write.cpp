// Write statements: formatted records, list-directed lines and bare text
// records. Records are assembled straight into the unit's output buffer.
#include <stdexcept>

#include "textio/detail.h"

namespace textio {
namespace {

using detail::Stmt;
using detail::Unit;
using Op = FormatOp;

[[noreturn]] void mismatch(const FormatRef& f) {
  throw std::invalid_argument("item kind does not fit its edit descriptor in format " +
                              std::string(f.text));
}

void put_field(std::string& out, const Op& op, const Item& item, const FormatRef& f) {
  switch (op.kind) {
    case Op::Kind::I:
      if (item.kind != Item::Kind::Int) mismatch(f);
      put_i(out, item.i, op.w);
      return;
    case Op::Kind::F:
      if (item.kind != Item::Kind::Real) mismatch(f);
      put_f(out, item.d, op.w, op.d);
      return;
    case Op::Kind::E:
      if (item.kind != Item::Kind::Real) mismatch(f);
      put_e(out, item.d, op.w, op.d);
      return;
    case Op::Kind::A: {
      if (item.kind != Item::Kind::Text) mismatch(f);
      std::size_t w = static_cast<std::size_t>(op.w);
      if (w == 0 || item.s.size() == w) {
        out.append(item.s);
      } else if (item.s.size() > w) {
        out.append(item.s.substr(0, w));
      } else {
        out.append(w - item.s.size(), ' ');
        out.append(item.s);
      }
      return;
    }
    case Op::Kind::X:
      return;
  }
}

bool has_data(std::span<const Op> ops, std::size_t from) {
  for (std::size_t i = from; i < ops.size(); ++i)
    if (ops[i].kind != Op::Kind::X) return true;
  return false;
}

std::size_t list_width(const Item& item) {
  switch (item.kind) {
    case Item::Kind::Int: return detail::kListIntWidth;
    case Item::Kind::Real: return detail::kListRealWidth;
    case Item::Kind::Text: return item.s.size();
  }
  return 0;
}

// Restores the buffer and the record counter of a statement that did not
// complete, so that no partial record is ever written.
struct Undo {
  Unit& u;
  std::size_t size = u.obuf.size();
  std::int64_t nrec = u.nrec;
  void operator()() const {
    u.obuf.resize(size);
    u.nrec = nrec;
  }
};

}  // namespace

void Io::write(int unit, FormatRef format, std::initializer_list<Item> items, Loc loc) {
  Impl& m = *impl_;
  Unit& u = m.for_write(unit, Stmt::FormattedWrite, loc);
  Undo undo{u};
  try {
    std::string& out = u.obuf;
    const std::span<const Op> ops = format.ops;
    const Item* it = items.begin();
    std::size_t i = 0;
    ++u.nrec;
    std::size_t rec0 = out.size();
    std::size_t pos = 0;  // column of the next field, from 0
    for (;;) {
      if (i == ops.size()) {
        if (it == items.end()) break;
        // Items left over: the format is reused from its last top-level
        // group for a further record.
        if (!has_data(ops, format.reversion)) mismatch(format);
        out += '\n';
        ++u.nrec;
        rec0 = out.size();
        pos = 0;
        i = format.reversion;
      }
      const Op& op = ops[i++];
      if (op.kind == Op::Kind::X) {
        pos += static_cast<std::size_t>(op.w);
        continue;
      }
      if (it == items.end()) break;
      std::size_t len = out.size() - rec0;
      if (pos > len) out.append(pos - len, ' ');
      put_field(out, op, *it++, format);
      pos = out.size() - rec0;
    }
    out += '\n';
  } catch (const std::bad_alloc&) {
    u.obuf.resize(undo.size);
    m.fail(210, "dynamic memory allocation failed", Stmt::FormattedWrite, unit, loc);
  } catch (...) {
    undo();
    throw;
  }
  m.end_write(u, Stmt::FormattedWrite, loc);
}

void Io::print(int unit, std::initializer_list<Item> items, Loc loc) {
  Impl& m = *impl_;
  Unit& u = m.for_write(unit, Stmt::ListWrite, loc);
  Undo undo{u};
  try {
    std::string& out = u.obuf;
    ++u.nrec;
    std::size_t line0 = out.size();
    out += ' ';
    bool any = false;
    for (const Item& item : items) {
      if (any && out.size() - line0 + list_width(item) >= detail::kListLineLimit) {
        out += '\n';
        ++u.nrec;
        line0 = out.size();
        out += ' ';
      }
      switch (item.kind) {
        case Item::Kind::Int: put_list_int(out, item.i); break;
        case Item::Kind::Real: put_list_real(out, item.d); break;
        case Item::Kind::Text: out.append(item.s); break;
      }
      any = true;
    }
    out += '\n';
  } catch (const std::bad_alloc&) {
    u.obuf.resize(undo.size);
    m.fail(210, "dynamic memory allocation failed", Stmt::ListWrite, unit, loc);
  }
  m.end_write(u, Stmt::ListWrite, loc);
}

void Io::write_record(int unit, std::string_view text, Loc loc) {
  Impl& m = *impl_;
  Unit& u = m.for_write(unit, Stmt::FormattedWrite, loc);
  Undo undo{u};
  try {
    ++u.nrec;
    u.obuf.append(text);
    u.obuf += '\n';
  } catch (const std::bad_alloc&) {
    u.obuf.resize(undo.size);
    m.fail(210, "dynamic memory allocation failed", Stmt::FormattedWrite, unit, loc);
  }
  m.end_write(u, Stmt::FormattedWrite, loc);
}

}  // namespace textio
