// The plain way to run a program and keep both of its output streams: posix_spawn, poll(2)
// on the two pipes, read(2) into a buffer appended to two strings, waitpid. The floor that
// the tools' runner is compared with.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <string>

struct PlainRun {
  int waitStatus = -1;               // -1: the program could not be started
  std::array<std::string, 2> texts;  // standard output, standard error
};

inline PlainRun plainCapture(char* const* argv) {
  PlainRun run;
  std::array<int, 2> out{};
  std::array<int, 2> err{};
  if (::pipe2(out.data(), O_CLOEXEC) != 0) return run;
  if (::pipe2(err.data(), O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return run;
  }
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  ::posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);

  std::array<pollfd, 2> fds{pollfd{out[0], POLLIN, 0}, pollfd{err[0], POLLIN, 0}};
  std::array<char, 65536> buffer{};
  for (int open = 2; open > 0;) {
    if (::poll(fds.data(), fds.size(), -1) < 0) break;
    for (size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      const ssize_t got = ::read(fds[i].fd, buffer.data(), buffer.size());
      if (got > 0) {
        run.texts[i].append(buffer.data(), static_cast<size_t>(got));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  if (spawned == 0) ::waitpid(pid, &run.waitStatus, 0);
  return run;
}
