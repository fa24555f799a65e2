// Test helper: a throw-away root (bin/, boot/, run/) that also holds the shell
// sandbox, so nothing touches the host's /boot or /run and no real system
// command runs (PATH holds only the sandbox's bin directory).
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/shell.h"

struct TestSandbox {
  std::string dir;

  explicit TestSandbox(const char* tag = "cfgcmd") {
    std::string tmpl = std::string("/tmp/pqw-") + tag + "-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    char* d = mkdtemp(buf.data());
    if (!d) abort();
    dir = d;
    mkdir((dir + "/bin").c_str(), 0755);
    mkdir((dir + "/boot").c_str(), 0755);
    mkdir((dir + "/run").c_str(), 0755);
    shell_set_sandbox(dir.c_str());
    paths_set_root(dir.c_str());
  }
  ~TestSandbox() {
    shell_set_sandbox(nullptr);
    paths_set_root(nullptr);
    remove_tree(dir);
  }

  static void remove_tree(const std::string& path) {
    if (DIR* d = opendir(path.c_str())) {
      while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        std::string p = path + "/" + n;
        struct stat st {};
        if (lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
          remove_tree(p);
        else
          unlink(p.c_str());
      }
      closedir(d);
    }
    rmdir(path.c_str());
  }

  std::string read(const std::string& rel) const {
    std::ifstream f(dir + "/" + rel, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  bool exists(const std::string& rel) const { return access((dir + "/" + rel).c_str(), F_OK) == 0; }

  // The commands run since the last call, one per entry.
  std::vector<std::string> take_commands() {
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
  void write(const std::string& rel, const std::string& text) const {
    std::ofstream(dir + "/" + rel, std::ios::binary) << text;
  }
};
