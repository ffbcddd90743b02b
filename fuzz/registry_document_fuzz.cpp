// Arbitrary bytes as the registry's output: the reading must return a list or raise an
// error derived from std::exception; anything else (a crash, a sanitizer report, another
// kind of exception) ends the run.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "registry_document.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    fpmServicesFromDocument(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const std::exception&) {
  }
  return 0;
}
