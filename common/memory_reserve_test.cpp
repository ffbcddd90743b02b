#include "memory_reserve.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <list>
#include <memory>
#include <new>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "output.h"

namespace {

// A sanitizer build cannot run in a limited address space.
#ifndef __SANITIZE_ADDRESS__

// The address space this process holds now, in bytes.
rlim_t addressSpaceInUse() {
  std::ifstream statm("/proc/self/statm");
  rlim_t pages = 0;
  statm >> pages;
  return pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE));
}

// Memory runs out while a large JSON value is alive and everything else is held, so that
// taking the value apart during the unwinding has nothing but the reserve to draw on.
[[noreturn]] void runOutOfMemoryHoldingALargeValue(bool withReserve) {
  const rlim_t limit = addressSpaceInUse() + (rlim_t{96} << 20);
  const rlimit addressSpace{limit, limit};
  ::setrlimit(RLIMIT_AS, &addressSpace);
  if (withReserve) holdMemoryReserve();
  std::list<std::string> filler;  // outlives the value: nothing it holds is freed first
  try {
    nlohmann::json reports;
    for (int i = 0; i < 200000; ++i) reports.push_back({{"name", "php-fpm"}});
    for (;;) filler.emplace_back(1000, 'x');
  } catch (const std::bad_alloc&) {
    std::_Exit(0);
  }
}

TEST(MemoryReserve, TheUnwindingAfterMemoryRanOutHasRoom) {
  // Without the reserve the very case ends in std::terminate: the row shows that it needs it.
  EXPECT_EXIT(runOutOfMemoryHoldingALargeValue(false), testing::KilledBySignal(SIGABRT), "");
  EXPECT_EXIT(runOutOfMemoryHoldingALargeValue(true), testing::ExitedWithCode(0), "");
}

// A result of 700,000 elements is written once memory has run out and the reserve is
// spent; taking it apart as the library does needs 16 bytes per element more than that.
[[noreturn]] void runOutOfMemoryThenWriteALargeResult(bool write) {
  const rlim_t limit = addressSpaceInUse() + (rlim_t{256} << 20);
  const rlimit addressSpace{limit, limit};
  ::setrlimit(RLIMIT_AS, &addressSpace);
  holdMemoryReserve();
  auto report = std::make_unique<nlohmann::json>();
  for (int i = 0; i < 700000; ++i) (*report)["clean_paths"].push_back("/tmp/x");
  std::list<std::string> filler;
  try {
    for (;;) filler.emplace_back(1000, 'x');
  } catch (const std::bad_alloc&) {
  }
  ::dup2(::open("/dev/null", O_WRONLY), STDOUT_FILENO);
  if (write) {
    writeJsonLine(std::move(*report));
  } else {
    report.reset();
  }
  std::_Exit(0);
}

TEST(MemoryReserve, AWrittenResultIsFreedWithoutAllocating) {
  EXPECT_EXIT(runOutOfMemoryThenWriteALargeResult(false), testing::KilledBySignal(SIGABRT), "");
  EXPECT_EXIT(runOutOfMemoryThenWriteALargeResult(true), testing::ExitedWithCode(0), "");
}

#endif

}  // namespace
