// The registry reading done the plain way: the whole document built as one JSON value and
// read with the library's writable key access. Slower and hungrier than the streaming
// reading of webmend, it is the reference the fuzzer holds that one to.
#include "registry_document_reference.h"

#include <stdexcept>

#include <nlohmann/json.hpp>

using nlohmann::json;

namespace {

// Reads the member `key` of `entry` the way the writable key access would on a copy of it
// (a null entry counts as an object without members; any other non-object fails with the
// library's type error 305), but without the copy: copying recurses once per level of
// nesting, and a deeply nested entry would exhaust the stack. Returns nullptr for a member
// that would read as null because it is missing.
const json* memberOf(const json& entry, const char* key) {
  if (entry.is_null()) return nullptr;
  if (!entry.is_object()) {
    // An empty value of the same type raises the very error, with the library's text.
    json(entry.type())[key];
  }
  const auto member = entry.find(key);
  return member == entry.end() ? nullptr : &*member;
}

}  // namespace

std::vector<std::string> fpmServicesFromWholeDocument(const std::string& text) {
  // The library would take a NUL byte for the end of its input.
  if (text.find('\0') != std::string::npos) {
    throw std::runtime_error("interpbook printed a NUL byte");
  }
  json document = json::parse(text);
  // A null document reads as an object; an array or a scalar fails with type error 305.
  const json& handlers = document["php"];
  std::vector<std::string> services;
  // Null has no entries; an array gives its elements, an object its values in key order,
  // and a scalar is its own single entry (which then fails as an entry).
  for (const json& entry : handlers) {
    const json* type = memberOf(entry, "type");
    if (type == nullptr || *type != "fpm") continue;
    const json* service = memberOf(entry, "service");
    if (service == nullptr) continue;
    services.push_back(service->get<std::string>());  // strict: type error 302 if not a string
  }
  return services;
}
