// Runs commands side by side and prints how they compare: each round runs every command a
// batch of times, in an order that rotates from round to round, and the medians over the
// rounds are compared with the first command's.
//
//   bench_compare ROUNDS BATCH LABEL COMMAND... [-- LABEL COMMAND...]...
//
// Per command: the median wall time of one run, the median CPU time (user + system, the
// command's own and its children's, from wait4), and the peak resident memory of any run.
// Standard output goes to /dev/null; a run that fails (status other than 0) ends the
// benchmark, since its time would mean nothing.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Command {
  std::string label;
  std::vector<char*> argv;  // null-terminated
  std::vector<double> wallSeconds;
  std::vector<double> cpuSeconds;
  long peakKibibytes = 0;
};

double seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Runs the command `batch` times and records the mean wall and CPU time of one run.
void runBatch(Command& command, int batch, int devNull) {
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, devNull, STDOUT_FILENO);
  double cpu = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int run = 0; run < batch; ++run) {
    pid_t pid = 0;
    if (::posix_spawn(&pid, command.argv[0], &actions, nullptr, command.argv.data(), environ) !=
        0) {
      std::fprintf(stderr, "%s: cannot be started\n", command.label.c_str());
      std::exit(1);
    }
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "%s: failed (wait status %d)\n", command.label.c_str(), status);
      std::exit(1);
    }
    cpu += seconds(usage.ru_utime) + seconds(usage.ru_stime);
    command.peakKibibytes = std::max(command.peakKibibytes, usage.ru_maxrss);
  }
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
  ::posix_spawn_file_actions_destroy(&actions);
  command.wallSeconds.push_back(wall.count() / batch);
  command.cpuSeconds.push_back(cpu / batch);
}

std::string readable(double seconds) {
  char text[32];
  if (seconds >= 0.1) {
    std::snprintf(text, sizeof text, "%.3f s", seconds);
  } else {
    std::snprintf(text, sizeof text, "%.3f ms", seconds * 1e3);
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s ROUNDS BATCH LABEL COMMAND... [-- LABEL COMMAND...]...\n",
                 argv[0]);
    return 2;
  }
  const int rounds = std::atoi(argv[1]);
  const int batch = std::atoi(argv[2]);
  std::vector<Command> commands(1);
  for (int i = 3; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--") {
      commands.emplace_back();
    } else if (commands.back().label.empty()) {
      commands.back().label = word;
    } else {
      commands.back().argv.push_back(argv[i]);
    }
  }
  for (auto& command : commands) command.argv.push_back(nullptr);

  const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  // One run each to warm the caches, not counted.
  for (auto& command : commands) {
    runBatch(command, 1, devNull);
    command.wallSeconds.clear();
    command.cpuSeconds.clear();
  }
  for (int round = 0; round < rounds; ++round) {
    // Rotating the order keeps any command from always running first or last.
    for (size_t i = 0; i < commands.size(); ++i) {
      runBatch(commands[(i + static_cast<size_t>(round)) % commands.size()], batch, devNull);
    }
  }

  const Command& base = commands.front();
  std::printf("median of %d rounds of %d runs each\n", rounds, batch);
  for (const auto& command : commands) {
    std::printf("%-28s wall %-10s cpu %-10s peak RSS %.1f MiB\n", command.label.c_str(),
                readable(median(command.wallSeconds)).c_str(),
                readable(median(command.cpuSeconds)).c_str(),
                static_cast<double>(command.peakKibibytes) / 1024);
  }
  for (size_t i = 1; i < commands.size(); ++i) {
    std::printf("ratio %s / %s: wall %.2f, cpu %.2f\n", base.label.c_str(),
                commands[i].label.c_str(),
                median(base.wallSeconds) / median(commands[i].wallSeconds),
                median(base.cpuSeconds) / median(commands[i].cpuSeconds));
  }
  return 0;
}
