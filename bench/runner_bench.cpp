// The runner against the plain way of doing its work (plain_capture.h), side by side in one
// run: each pair runs the same child, in randomly interleaved repetitions, and the ratio of
// their median wall times is printed at the end.
//
//   build/bin/runner_bench [Google Benchmark flags]
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>
#include <boost/asio/connect_pipe.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/readable_pipe.hpp>
#include <boost/asio/writable_pipe.hpp>

#include "plain_capture.h"
#include "run_command.h"

namespace {

constexpr size_t kMebibyte = size_t{1} << 20;

// Sets what the fake child writes on each stream (see fake_child.c).
void setChildOutput(size_t outBytes, size_t errBytes) {
  ::setenv("BENCH_STDOUT_BYTES", std::to_string(outBytes).c_str(), 1);
  ::setenv("BENCH_STDERR_BYTES", std::to_string(errBytes).c_str(), 1);
}

void checkSizes(benchmark::State& state, size_t out, size_t err, size_t wantOut, size_t wantErr) {
  if (out != wantOut || err != wantErr)
    state.SkipWithError("the child's output was not captured whole");
}

void runnerCapture(benchmark::State& state, size_t outBytes, size_t errBytes) {
  setChildOutput(outBytes, errBytes);
  for (auto _ : state) {
    const ChildRun run = runCommand(HOSTMEND_BENCH_CHILD, {}, CaptureMode::Both);
    checkSizes(state, run.stdoutText.size(), run.stderrText.size(), outBytes, errBytes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * (outBytes + errBytes)));
}

void plainLoop(benchmark::State& state, size_t outBytes, size_t errBytes) {
  setChildOutput(outBytes, errBytes);
  std::vector<char*> argv{const_cast<char*>(HOSTMEND_BENCH_CHILD), nullptr};
  for (auto _ : state) {
    const PlainRun run = plainCapture(argv.data());
    checkSizes(state, run.texts[0].size(), run.texts[1].size(), outBytes, errBytes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * (outBytes + errBytes)));
}

// What a capturing run spends on its event loop around the child: the loop's own
// descriptors (an epoll set, an eventfd, a timerfd) and one pipe registered with it, made
// and closed again.
void eventLoopSetUp(benchmark::State& state) {
  for (auto _ : state) {
    boost::asio::io_context events;
    boost::asio::readable_pipe source(events);
    boost::asio::writable_pipe sink(events);
    boost::asio::connect_pipe(source, sink);
    events.run();
  }
}

// Pairs of (runner, plain loop) benchmark names whose medians are compared.
const std::vector<std::pair<std::string, std::string>> kPairs = {
    {"runCommand/silent", "poll-read/silent"},
    {"runCommand/64MiB+64MiB", "poll-read/64MiB+64MiB"},
    {"runCommand/64MiB", "poll-read/64MiB"},
};

// The console report, then the ratio of the medians of each pair.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& reports) override {
    ConsoleReporter::ReportRuns(reports);
    for (const auto& run : reports) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        medians_[run.run_name.function_name] = run.GetAdjustedRealTime();
      }
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nratios of the medians:\n");
    for (const auto& [runner, plain] : kPairs) {
      if (medians_.count(runner) == 0 || medians_.count(plain) == 0) continue;
      std::printf("time %s / %s: %.2f (throughput %.2f of the plain loop)\n", runner.c_str(),
                  plain.c_str(), medians_[runner] / medians_[plain],
                  medians_[plain] / medians_[runner]);
    }
  }

 private:
  std::map<std::string, double> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  const size_t big = 64 * kMebibyte;
  const std::vector<std::pair<size_t, size_t>> sizes = {{0, 0}, {big, big}, {big, 0}};
  const std::vector<std::string> labels = {"silent", "64MiB+64MiB", "64MiB"};
  for (size_t i = 0; i < sizes.size(); ++i) {
    const auto [out, err] = sizes[i];
    benchmark::RegisterBenchmark(("runCommand/" + labels[i]).c_str(), runnerCapture, out, err)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("poll-read/" + labels[i]).c_str(), plainLoop, out, err)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("io_context and a pipe", eventLoopSetUp)
      ->Unit(benchmark::kMicrosecond);
  // Repetitions in random order and their medians, unless the caller says otherwise.
  std::vector<char*> arguments(argv, argv + argc);
  std::string repetitions = "--benchmark_repetitions=11";
  std::string interleaving = "--benchmark_enable_random_interleaving=true";
  std::string aggregates = "--benchmark_report_aggregates_only=true";
  arguments.insert(arguments.begin() + 1,
                   {repetitions.data(), interleaving.data(), aggregates.data()});
  int count = static_cast<int>(arguments.size());
  benchmark::Initialize(&count, arguments.data());
  if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) return 2;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
