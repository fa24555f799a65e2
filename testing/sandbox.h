// Test helpers shared by the unit tests, the end-to-end tests and the
// fuzzers: whole-file reads, throw-away directories, and a throw-away root
// (bin/, boot/, run/) that also holds the shell sandbox, so that nothing
// touches the host's /boot or /run and no real system command runs (PATH
// holds only the sandbox's bin directory).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/paths.h"
#include "platform/shell.h"

// The whole file, byte for byte; empty when it cannot be read.
inline std::string test_read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// Removes path and everything below it; links are removed, never followed.
inline void test_remove_tree(const std::string& path) {
  std::error_code ec;
  if (!path.empty()) std::filesystem::remove_all(path, ec);
}

// A new empty directory $TMPDIR/pqw-TAG-XXXXXX (/tmp without TMPDIR); empty
// when it cannot be made.
inline std::string test_make_temp_dir(const char* tag) {
  const char* tmp = getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/pqw-" + tag + "-XXXXXX";
  if (!mkdtemp(templ.data())) return "";
  return templ;
}

// A temporary directory for the life of the object.
struct TempDir {
  std::string dir;

  explicit TempDir(const char* tag) : dir(test_make_temp_dir(tag)) {
    if (dir.empty()) abort();
  }
  ~TempDir() { test_remove_tree(dir); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string read(const std::string& rel) const { return test_read_file(dir + "/" + rel); }
  bool exists(const std::string& rel) const { return access((dir + "/" + rel).c_str(), F_OK) == 0; }
  void write(const std::string& rel, const std::string& text) const {
    std::ofstream(dir + "/" + rel, std::ios::binary) << text;
  }
};

// The root and shell sandbox of the process while the object lives.
struct TestSandbox : TempDir {
  explicit TestSandbox(const char* tag = "cfgcmd") : TempDir(tag) {
    mkdir((dir + "/bin").c_str(), 0755);
    mkdir((dir + "/boot").c_str(), 0755);
    mkdir((dir + "/run").c_str(), 0755);
    shell_set_sandbox(dir.c_str());
    paths_set_root(dir.c_str());
  }
  ~TestSandbox() {
    shell_set_sandbox(nullptr);
    paths_set_root(nullptr);
  }

  // The commands run since the last call, one per entry.
  std::vector<std::string> take_commands() const {
    std::vector<std::string> out;
    std::string log = read("commands.log");
    unlink((dir + "/commands.log").c_str());
    std::stringstream ss(log);
    std::string line;
    while (std::getline(ss, line)) out.push_back(line);
    return out;
  }

  // A fake tool in bin/ (a /bin/sh script body).
  void tool(const std::string& name, const std::string& body) const {
    std::string p = dir + "/bin/" + name;
    std::ofstream(p) << "#!/bin/sh\n" << body << "\n";
    chmod(p.c_str(), 0755);
  }
  // The host's own harmless tool (cat, sed) in bin/, for commands whose
  // output the test reads; false when there is none.
  bool link_tool(const char* name) const {
    for (const char* d : {"/usr/bin/", "/bin/"}) {
      std::string real = std::string(d) + name;
      if (access(real.c_str(), X_OK) == 0 &&
          symlink(real.c_str(), (dir + "/bin/" + name).c_str()) == 0)
        return true;
    }
    return false;
  }
};
