// Shared test scaffolding: a scratch directory, an Io whose standard
// streams go to files in it, and helpers to read files back.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "textio/textio.h"

namespace textio::testing {

inline std::string slurp(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

inline void spit(const std::filesystem::path& p, const std::string& text) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << text;
}

class TextioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "textio-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    out_fd_ = ::open((dir_ / "stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    err_fd_ = ::open((dir_ / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    set_stdin("");
  }
  // Standard input of the Io made next by io().
  void set_stdin(const std::string& text) {
    if (in_fd_ >= 0) ::close(in_fd_);
    spit(dir_ / "stdin.txt", text);
    in_fd_ = ::open((dir_ / "stdin.txt").c_str(), O_RDONLY | O_CLOEXEC);
  }
  void TearDown() override {
    io_.reset();
    ::close(out_fd_);
    ::close(err_fd_);
    ::close(in_fd_);
    std::filesystem::remove_all(dir_);
  }

  Options options() {
    Options o;
    o.stdout_fd = out_fd_;
    o.stderr_fd = err_fd_;
    o.stdin_fd = in_fd_;
    o.dir = dir_.string();
    o.getenv = [this](const char* name) -> const char* {
      auto it = env_.find(name);
      return it == env_.end() ? nullptr : it->second.c_str();
    };
    return o;
  }
  Io& io() {
    if (!io_) io_ = std::make_unique<Io>(options());
    return *io_;
  }
  std::string stdout_text() {
    if (io_) io_->flush();
    return slurp(dir_ / "stdout.txt");
  }
  std::string stderr_text() { return slurp(dir_ / "stderr.txt"); }
  std::string file(const std::string& name) { return slurp(dir_ / name); }
  void put_file(const std::string& name, const std::string& text) { spit(dir_ / name, text); }

  std::filesystem::path dir_;
  std::map<std::string, std::string> env_;
  int out_fd_ = -1, err_fd_ = -1, in_fd_ = -1;
  std::unique_ptr<Io> io_;
};

}  // namespace textio::testing
