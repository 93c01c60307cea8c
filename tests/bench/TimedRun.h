#pragma once
// Runs a program the way a shell loop would and times it, for benchmarks that set a program of
// ours against another one.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

struct TTimedRun {
  bool Succeeded = false;  // started and exited with 0
  double Seconds = 0;
  long PeakResidentKb = 0;  // the program's own, not its children's
};

// Runs Arguments[0] (found on PATH) with the rest as its arguments, its output discarded and its
// errors on ours, and waits for it; the time counts from just before the start to the reaping.
inline TTimedRun RunTimed(const std::vector<std::string>& Arguments) {
  std::vector<char*> Argv;
  for (const std::string& Argument : Arguments) Argv.push_back(const_cast<char*>(Argument.c_str()));
  Argv.push_back(nullptr);
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_addopen(&Actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  TTimedRun Run;
  const auto Start = std::chrono::steady_clock::now();
  pid_t Child = 0;
  const int Spawned = posix_spawnp(&Child, Argv[0], &Actions, nullptr, Argv.data(), environ);
  posix_spawn_file_actions_destroy(&Actions);
  if (Spawned != 0) {
    std::fprintf(stderr, "%s could not be started: %s\n", Argv[0], std::strerror(Spawned));
    return Run;
  }
  int Status = 0;
  rusage Usage{};
  while (::wait4(Child, &Status, 0, &Usage) < 0 && errno == EINTR) {
  }
  Run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  Run.Succeeded = WIFEXITED(Status) && WEXITSTATUS(Status) == 0;
  Run.PeakResidentKb = Usage.ru_maxrss;
  return Run;
}
