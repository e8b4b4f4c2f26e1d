// Runs a program as a child with standard input and output on /dev/null, and reads its own
// time and peak memory from wait4, so earlier children do not colour the figures as
// RUSAGE_CHILDREN would.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

struct ChildRun {
  double wall = 0;   // seconds
  double cpu = 0;    // user + system seconds of the child
  long peakKiB = 0;  // ru_maxrss of the child alone
  bool ok = false;   // exited with status 0
};

inline ChildRun runChild(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ChildRun run;
  auto t0 = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    execvp(argv[0], argv.data());
    std::fprintf(stderr, "cannot run %s: %s\n", argv[0], std::strerror(errno));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) {
    std::fprintf(stderr, "cannot start %s\n", argv[0]);
    return run;
  }
  run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  auto secs = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  run.cpu = secs(usage.ru_utime) + secs(usage.ru_stime);
  run.peakKiB = usage.ru_maxrss;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!run.ok) std::fprintf(stderr, "failed (status %d): %s ...\n", status, args[0].c_str());
  return run;
}
