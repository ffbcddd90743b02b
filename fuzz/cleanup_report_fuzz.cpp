// Arbitrary removed names: the cleanup report must be one line that parses back with the
// strict parser, "null" exactly when nothing was removed, and otherwise list every path in
// order, unchanged when it is valid UTF-8.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cleanup_report.h"
#include "fuzz_checks.h"
#include "output.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  std::vector<std::string> removed;
  while (input.remaining_bytes() > 0) removed.push_back(input.ConsumeRandomLengthString());

  const std::string text = toJsonText(cleanupReport(removed));
  require(text.find('\n') == std::string::npos);
  const nlohmann::json report = nlohmann::json::parse(text);  // raises if not strict JSON
  if (removed.empty()) {
    require(text == "null");
    return 0;
  }
  require(report.is_object() && report.size() == 1);
  const nlohmann::json& paths = report.at("clean_paths");
  require(paths.is_array() && paths.size() == removed.size());
  for (size_t i = 0; i < removed.size(); ++i) {
    require(paths[i].is_string());
    if (isUtf8(removed[i])) require(paths[i] == removed[i]);
  }
  return 0;
}
