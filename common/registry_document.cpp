#include "registry_document.h"

#include <cstddef>
#include <map>
#include <optional>
#include <stdexcept>
#include <utility>

#include <nlohmann/json.hpp>

using nlohmann::json;

namespace {

// The document is read as a stream of parse events, and only what decides the result is
// kept: the service names and the first entry that fails. A document held whole would cost
// many times its size, and when memory ran out while it was being built, the library's
// destructor would need more memory still to take the partial document apart.
//
// The result is the one of reading the whole document with the library's writable key
// access: "php" of a null document is null; an array or a scalar where an object is read
// by key fails with type error 305; entries are the elements of an array, the values of an
// object in key order (the last of duplicate keys wins), or a scalar itself; a "service"
// that is not a string fails with type error 302. Every such failure is raised only once
// the whole document has parsed, so a parse error anywhere wins.

// What an entry of "php" amounts to.
struct Outcome {
  enum class Kind { Skipped, Service, Fails305, Fails302 } kind = Kind::Skipped;
  std::string service;                       // Kind::Service
  json::value_t type = json::value_t::null;  // the type of the offending value
};

Outcome fails305(json::value_t type) { return {Outcome::Kind::Fails305, "", type}; }

// Raises the library's own error for `outcome`, with its own text.
[[noreturn]] void raise(const Outcome& outcome) {
  json value(outcome.type);  // an empty value of the offending type raises the very error
  if (outcome.kind == Outcome::Kind::Fails305) {
    value["type"];
  } else {
    value.get<std::string>();
  }
  throw std::logic_error("the JSON library accepted a value it should have refused");
}

bool isContainer(json::value_t type) {
  return type == json::value_t::object || type == json::value_t::array;
}

class RegistryReader {
 public:
  // The SAX interface of the JSON library; every event at a depth that does not matter is
  // passed over.
  bool null() { return scalar(json::value_t::null); }
  bool boolean(bool /*value*/) { return scalar(json::value_t::boolean); }
  bool number_integer(json::number_integer_t /*value*/) {
    return scalar(json::value_t::number_integer);
  }
  bool number_unsigned(json::number_unsigned_t /*value*/) {
    return scalar(json::value_t::number_unsigned);
  }
  bool number_float(json::number_float_t /*value*/, const json::string_t& /*text*/) {
    return scalar(json::value_t::number_float);
  }
  bool string(json::string_t& text) { return scalar(json::value_t::string, &text); }
  bool binary(json::binary_t& /*value*/) { return scalar(json::value_t::binary); }
  bool start_object(std::size_t /*elements*/) { return open(json::value_t::object); }
  bool start_array(std::size_t /*elements*/) { return open(json::value_t::array); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }
  bool key(json::string_t& name) {
    if (depth_ == 1) {
      inPhp_ = name == "php";
    } else if (depth_ == 2 && inEntries() && phpType_ == json::value_t::object) {
      entryKey_ = name;
    } else if (depth_ == 3 && inEntry()) {
      member_ = name == "type" ? Member::Type : name == "service" ? Member::Service : Member::Other;
    }
    return true;
  }
  // The parser's own error, raised as the library raises it when it builds a document.
  template <class Exception>
  bool parse_error(std::size_t /*position*/, const std::string& /*token*/, const Exception& error) {
    throw error;
  }

  std::vector<std::string> result() const {
    if (documentType_ == json::value_t::null) return {};
    if (documentType_ != json::value_t::object) raise(fails305(documentType_));
    if (!phpType_ || *phpType_ == json::value_t::null) return {};
    // A scalar is its own single entry, and an entry must be an object or null.
    if (!isContainer(*phpType_)) raise(fails305(*phpType_));
    std::vector<std::string> services;
    if (*phpType_ == json::value_t::array) {
      if (failure_) raise(*failure_);
      services = services_;
    } else {
      for (const auto& [key, outcome] : byKey_) {
        if (outcome.kind != Outcome::Kind::Service) raise(outcome);
        services.push_back(outcome.service);
      }
    }
    return services;
  }

 private:
  enum class Member { Other, Type, Service };

  // Inside the top-level member "php" (depth 1 and below).
  bool inPhp() const { return documentType_ == json::value_t::object && inPhp_; }
  // At the level of the entries of a "php" array or object.
  bool inEntries() const { return inPhp() && phpType_ && isContainer(*phpType_); }
  // Inside an entry that is an object.
  bool inEntry() const { return inEntries() && entryType_ == json::value_t::object; }

  bool open(json::value_t type) {
    begin(type, nullptr);
    ++depth_;
    return true;
  }
  bool close() {
    --depth_;
    end();
    return true;
  }
  bool scalar(json::value_t type, const std::string* text = nullptr) {
    begin(type, text);
    end();
    return true;
  }

  // A value of `type` starts at the current depth.
  void begin(json::value_t type, const std::string* text) {
    if (depth_ == 0) {
      documentType_ = type;
    } else if (depth_ == 1 && inPhp()) {
      // The last "php" member wins.
      phpType_ = type;
      services_.clear();
      failure_.reset();
      byKey_.clear();
    } else if (depth_ == 2 && inEntries()) {
      entryType_ = type;
      typeIsFpm_ = false;
      service_.reset();
    } else if (depth_ == 3 && inEntry()) {
      if (member_ == Member::Type) {
        typeIsFpm_ = type == json::value_t::string && *text == "fpm";
      } else if (member_ == Member::Service) {
        service_ = Outcome{.kind = type == json::value_t::string ? Outcome::Kind::Service
                                                                 : Outcome::Kind::Fails302,
                           .service = type == json::value_t::string ? *text : std::string(),
                           .type = type};
      }
    }
  }

  // The value that started last at the current depth has ended.
  void end() {
    if (depth_ != 2 || !inEntries()) return;
    Outcome outcome;
    if (entryType_ == json::value_t::object) {
      if (typeIsFpm_ && service_) outcome = std::move(*service_);
    } else if (entryType_ != json::value_t::null) {
      outcome = fails305(entryType_);
    }
    if (*phpType_ == json::value_t::array) {
      // Entries after the first failure no longer matter.
      if (failure_) return;
      if (outcome.kind == Outcome::Kind::Service) {
        services_.push_back(std::move(outcome.service));
      } else if (outcome.kind != Outcome::Kind::Skipped) {
        failure_ = std::move(outcome);
      }
    } else if (outcome.kind == Outcome::Kind::Skipped) {
      byKey_.erase(entryKey_);
    } else {
      byKey_.insert_or_assign(entryKey_, std::move(outcome));
    }
  }

  std::size_t depth_ = 0;
  json::value_t documentType_ = json::value_t::null;
  bool inPhp_ = false;
  std::optional<json::value_t> phpType_;  // unset while the document has no "php"
  // A "php" array: the names so far, and its first entry that fails.
  std::vector<std::string> services_;
  std::optional<Outcome> failure_;
  // A "php" object: its entries that are not skipped, in key order.
  std::map<std::string, Outcome> byKey_;
  std::string entryKey_;
  // The entry being read.
  json::value_t entryType_ = json::value_t::null;
  Member member_ = Member::Other;
  bool typeIsFpm_ = false;
  std::optional<Outcome> service_;
};

}  // namespace

std::vector<std::string> fpmServicesFromDocument(const std::string& text) {
  // The JSON library takes a NUL byte for the end of its input and would read no further.
  if (text.find('\0') != std::string::npos) {
    throw std::runtime_error("interpbook printed a NUL byte");
  }
  RegistryReader reader;
  json::sax_parse(text, &reader);
  return reader.result();
}
