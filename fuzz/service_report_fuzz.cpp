// Arbitrary output of systemctl on both streams and an arbitrary exit code: the report,
// compact and inside an indented array, must parse back with the strict parser, carry the
// unit and the status, and, when both streams are valid UTF-8, the composed message itself.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "fuzz_checks.h"
#include "output.h"
#include "service_report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  ChildRun run;
  run.exitCode = input.ConsumeIntegral<int>();
  const std::string action = input.ConsumeBool() ? "stop" : "try-restart";
  run.stdoutText = input.ConsumeRandomLengthString();
  run.stderrText = input.ConsumeRemainingBytesAsString();
  const std::string unit = "php8.2-fpm";

  const nlohmann::json report = makeServiceReport(action, unit, run);
  const std::string line = toJsonText(report);
  nlohmann::json array;  // as the list of reports is built: null, then an array
  array.push_back(report);
  const std::string indented = toJsonText(array, 2);
  require(line.find('\n') == std::string::npos);

  const nlohmann::json parsed = nlohmann::json::parse(line);  // raises if not strict JSON
  require(nlohmann::json::parse(indented) == nlohmann::json::array({parsed}));
  require(parsed.size() == 3);
  require(parsed.at("name") == unit);
  require(parsed.at("status") ==
          ((run.exitCode == 0) != (action == "stop") ? "running" : "stopped"));
  if (isUtf8(run.stdoutText) && isUtf8(run.stderrText)) {
    std::string message = run.stdoutText;
    if (!run.stderrText.empty()) message += "\n" + run.stderrText;
    if (run.exitCode != 0) message += "\nFinished with exit code " + std::to_string(run.exitCode);
    require(parsed.at("message") == message);
  }
  return 0;
}
