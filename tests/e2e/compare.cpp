#include "e2e/compare.h"

#include <gtest/gtest.h>

namespace e2e {
namespace {

std::map<std::string, std::string> files_of(const std::string& dir) {
  std::map<std::string, std::string> m;
  for (const auto& n : list_files(dir)) m[n] = read_file(dir + "/" + n);
  return m;
}

// First differing line, for a readable failure.
std::string first_difference(const std::string& a, const std::string& b) {
  auto la = split_lines(a), lb = split_lines(b);
  for (size_t i = 0; i < std::max(la.size(), lb.size()); ++i) {
    std::string x = i < la.size() ? la[i] : "<none>", y = i < lb.size() ? lb[i] : "<none>";
    if (x != y)
      return "line " + std::to_string(i + 1) + ":\n program: [" + x + "]\n   model: [" + y + "]";
  }
  return a.size() == b.size() ? "" : "(differ only in the final line end)";
}

}  // namespace

Outcome run_program_on(const Inputs& inputs, const std::map<std::string, std::string>& env) {
  TempDir dir;
  for (const auto& [n, t] : inputs) write_file(dir.file(n), t);
  Outcome o;
  o.run = run_program(dir.path(), env);
  o.files = files_of(dir.path());
  return o;
}

Both run_both(const Inputs& inputs, const std::map<std::string, std::string>& env) {
  TempDir a, b;
  for (const auto& [n, t] : inputs) {
    write_file(a.file(n), t);
    write_file(b.file(n), t);
  }
  Both r;
  r.prog = run_program(a.path(), env);
  r.model = run_refmodel(b.path());
  r.prog_files = files_of(a.path());
  r.model_files = files_of(b.path());
  return r;
}

void expect_same(const Both& b) {
  EXPECT_EQ(b.prog.status, b.model.status);
  EXPECT_TRUE(b.prog.out == b.model.out) << "standard output\n" << first_difference(b.prog.out, b.model.out);
  EXPECT_EQ(mask_source_line(b.prog.err), mask_source_line(b.model.err));
  std::string pn, mn;
  for (const auto& [n, t] : b.prog_files) pn += n + " ";
  for (const auto& [n, t] : b.model_files) mn += n + " ";
  EXPECT_EQ(pn, mn) << "files left in the folder";
  for (const auto& [n, t] : b.prog_files) {
    auto it = b.model_files.find(n);
    if (it == b.model_files.end()) continue;
    EXPECT_TRUE(t == it->second) << n << "\n" << first_difference(t, it->second);
  }
}

Inputs example_inputs(const std::map<int, std::string>& diff_lines) {
  Inputs in;
  for (const auto& n : list_files(example_dir())) {
    if (n == "README.md") continue;
    in[n] = read_file(example_dir() + "/" + n);
  }
  for (const auto& [line, text] : diff_lines) in["diff.input"] = replace_line(in["diff.input"], line, text);
  return in;
}

}  // namespace e2e
