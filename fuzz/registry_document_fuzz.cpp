// Arbitrary bytes as the registry's output: the reading must return the list, or raise the
// error, that reading the whole document as one JSON value gives; anything else (a
// different result or text, a crash, a sanitizer report, another kind of exception) ends
// the run.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_checks.h"
#include "registry_document.h"
#include "registry_document_reference.h"

namespace {

// The names, or the error's text.
using Outcome = std::pair<std::vector<std::string>, std::string>;

Outcome outcome(std::vector<std::string> (*read)(const std::string&), const std::string& text) {
  try {
    return {read(text), ""};
  } catch (const std::exception& error) {
    return {{}, error.what()};
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  require(outcome(fpmServicesFromDocument, text) == outcome(fpmServicesFromWholeDocument, text));
  return 0;
}
