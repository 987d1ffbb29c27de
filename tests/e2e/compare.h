// Runs the program and the independent reference model on the same inputs
// and compares everything they leave behind, byte for byte.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "e2e/harness.h"

namespace e2e {

using Inputs = std::map<std::string, std::string>;  // file name -> content

struct Both {
  RunResult prog, model;
  std::map<std::string, std::string> prog_files, model_files;
};

// The program alone: its run in a fresh folder holding the inputs, and
// every file the folder holds afterwards.
struct Outcome {
  RunResult run;
  std::map<std::string, std::string> files;
};
Outcome run_program_on(const Inputs& inputs, const std::map<std::string, std::string>& env = {});

// Writes the inputs into two fresh folders, runs each side in its own.
Both run_both(const Inputs& inputs, const std::map<std::string, std::string>& env = {});
// gtest assertions on the comparison: status, standard output, standard
// error (source positions masked) and every file.
void expect_same(const Both& b);
// The bundled example with some lines of its "diff.input" replaced.
Inputs example_inputs(const std::map<int, std::string>& diff_lines = {});

}  // namespace e2e
