// The one runner for every shell command the daemon issues.
//
// Production: /bin/sh -c, exactly as system() and popen() would. Sandbox
// (--shell-sandbox DIR): each command line is appended, exactly as built, to
// DIR/commands.log, then run with /bin/sh -c and PATH=DIR/bin only, so that
// reboot, mount, killall and the rest do nothing unless a fake is put there.
#pragma once

#include <cstdio>
#include <string>

void shell_set_sandbox(const char* dir);  // nullptr or "": real shell
const std::string& shell_sandbox();

// Like system(): the wait status of /bin/sh -c cmd (-1 when it cannot run).
int shell_run(const char* cmd);
// Exit status of the command (WEXITSTATUS), or -1 when it did not exit normally.
int shell_exit_code(int wait_status);

// Like popen(cmd, "r") / pclose().
FILE* shell_popen(const char* cmd);
int shell_pclose(FILE* f);

// Test seam: a runner that stands in for /bin/sh (nullptr: the shell again).
// It gets each command line (also logged in a sandbox), may put the text the
// command would print in *out (popen only; at most 64 KiB is read back) and
// returns the command's exit status. Fuzzers use it to run thousands of
// commands a second without starting a process.
using ShellRunner = int (*)(const char* cmd, std::string* out);
void shell_set_runner(ShellRunner runner);
