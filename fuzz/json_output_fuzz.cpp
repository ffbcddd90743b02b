// Arbitrary texts in a result, compact or indented by 2: the bytes that the tools write
// (their own UTF-8 mending, then the library's stream operator) must be exactly those of
// the library's dump() with its replacing error handler.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "fuzz_checks.h"
#include "output.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const int indent = input.ConsumeBool() ? 2 : -1;
  // As the tools build their results: null, then a list of texts or of objects holding one.
  nlohmann::json value;
  while (input.remaining_bytes() > 0) {
    std::string text = input.ConsumeRandomLengthString();
    if (input.ConsumeBool()) {
      value.push_back({{"message", std::move(text)}, {"status", "running"}});
    } else {
      value.push_back(std::move(text));
    }
  }
  require(toJsonText(value, indent) ==
          value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace));
  return 0;
}
