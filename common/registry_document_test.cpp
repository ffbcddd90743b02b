#include "registry_document.h"

#include <exception>

#include <gtest/gtest.h>

namespace {

struct DocumentCase {
  const char* name;
  std::string document;
  std::vector<std::string> services;
  std::string error = "";  // when set, the reading must fail with this text
};

const std::string k305 =
    "[json.exception.type_error.305] cannot use operator[] with a string "
    "argument with ";
const std::string k302 = "[json.exception.type_error.302] type must be string, but is ";
const std::string kNul = "interpbook printed a NUL byte";

// `depth` arrays, one inside the other.
std::string nested(size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

void check(const std::vector<DocumentCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      const auto services = fpmServicesFromDocument(c.document);
      EXPECT_EQ(c.error, "") << "no failure";
      EXPECT_EQ(services, c.services);
    } catch (const std::exception& error) {
      EXPECT_EQ(error.what(), c.error);
    }
  }
}

TEST(RegistryDocument, YieldsTheFpmServices) {
  check({
      {"array, in its order",
       R"({"php":[{"type":"fpm","service":"alpha"},{"type":"cgi","service":"beta"},)"
       R"({"type":"fpm","service":"gamma"}]})",
       {"alpha", "gamma"}},
      {"object, in key order rather than document order",
       R"({"php":{"zulu":{"type":"fpm","service":"one"},"alpha":{"type":"fpm","service":"two"}}})",
       {"two", "one"}},
      {"other members and fields ignored, blanks and a final newline allowed",
       " {\"perl\":[{\"type\":\"fpm\",\"service\":\"no\"}],\"php\":[{\"id\":7,\"service\":"
       "\"php8.2-fpm\",\"type\":\"fpm\",\"path\":\"/usr/sbin\"}]}\n",
       {"php8.2-fpm"}},
      {"names as written: suffix, blanks, empty, twice, nginx",
       R"({"php":[{"type":"fpm","service":"a.service"},{"type":"fpm","service":" b c "},)"
       R"({"type":"fpm","service":""},{"type":"fpm","service":"a.service"},)"
       R"({"type":"fpm","service":"nginx"}]})",
       {"a.service", " b c ", "", "a.service", "nginx"}},
      {"types that are not exactly fpm, and null entries, are skipped",
       R"({"php":[{"type":"FPM","service":"1"},{"type":" fpm","service":"2"},)"
       R"({"type":"fpm ","service":"3"},{"type":null,"service":"4"},{"service":"5"},)"
       R"({"type":["fpm"],"service":"6"},{"type":{"fpm":1},"service":"7"},{"type":1},null,)"
       R"({"type":"fpm","service":"8"}]})",
       {"8"}},
      {"an fpm entry without a service is skipped",
       R"({"php":[{"type":"fpm"},{"type":"fpm","Service":"x"},{"type":"fpm","service":"y"}]})",
       {"y"}},
      {"empty object", "{}", {}},
      {"null document", "null", {}},
      {"php null", R"({"php":null})", {}},
      {"php empty array", R"({"php":[]})", {}},
      {"php empty object", R"({"php":{}})", {}},
      // Copying such an entry would recurse once per level and overflow the stack.
      {"the last of duplicate members wins",
       R"({"php":"x","php":[{"type":"fpm","service":"a","service":"b"},)"
       R"({"type":"fpm","type":"cgi","service":"c"},{"type":"cgi","type":"fpm","service":"d"}]})",
       {"b", "d"}},
      {"a duplicate key in a php object replaces a failing entry",
       R"({"php":{"b":{"type":"fpm","service":1},"a":{"type":"fpm","service":"one"},)"
       R"("b":{"type":"cgi"},"c":{"type":"fpm","service":"three"}}})",
       {"one", "three"}},
      {"members of other values and deeper levels are not entries",
       R"({"x":{"php":[{"type":"fpm","service":"no"}]},"php":[{"type":"fpm","service":"yes",)"
       R"("x":{"type":"fpm","service":7},"service2":[1]}]})",
       {"yes"}},
      {"deeply nested member of an fpm entry",
       R"({"php":[{"type":"fpm","service":"deep","x":)" + nested(500000) + "}]}",
       {"deep"}},
  });
}

TEST(RegistryDocument, FailsWithTheLibrarysErrors) {
  check({
      {"array document", "[]", {}, k305 + "array"},
      {"string document", R"("php")", {}, k305 + "string"},
      {"number document", "3", {}, k305 + "number"},
      {"boolean document", "true", {}, k305 + "boolean"},
      {"php a string", R"({"php":"fpm"})", {}, k305 + "string"},
      {"php a number", R"({"php":1.5})", {}, k305 + "number"},
      {"php a boolean", R"({"php":false})", {}, k305 + "boolean"},
      {"string entry after a good one",
       R"({"php":[{"type":"fpm","service":"a"},"fpm"]})",
       {},
       k305 + "string"},
      {"array entry", R"({"php":[[{"type":"fpm","service":"a"}]]})", {}, k305 + "array"},
      {"number entry in an object", R"({"php":{"a":1}})", {}, k305 + "number"},
      {"deeply nested entry", R"({"php":[)" + nested(500000) + "]}", {}, k305 + "array"},
      {"service a number, earlier names dropped",
       R"({"php":[{"type":"fpm","service":"a"},{"type":"fpm","service":7}]})",
       {},
       k302 + "number"},
      {"service null", R"({"php":[{"type":"fpm","service":null}]})", {}, k302 + "null"},
      {"service an array", R"({"php":[{"type":"fpm","service":["a"]}]})", {}, k302 + "array"},
      {"service an object", R"({"php":[{"type":"fpm","service":{}}]})", {}, k302 + "object"},
      {"service a boolean", R"({"php":[{"type":"fpm","service":true}]})", {}, k302 + "boolean"},
      {"entries of a php object fail in key order",
       R"({"php":{"z":"first in the document","a":{"type":"fpm","service":null}}})",
       {},
       k302 + "null"},
      {"php given twice, the last one fails",
       R"({"php":[{"type":"fpm","service":"a"}],"php":true})",
       {},
       k305 + "boolean"},
      {"a parse error after a failing entry wins",
       R"({"php":[7,{"type":"fpm","service":"a"}]} x)",
       {},
       "[json.exception.parse_error.101] parse error at line 1, column 42: syntax error while "
       "parsing value - invalid literal; last read: '\"a\"}]} x'; expected end of input"},
      {"service of a skipped entry is not read", R"({"php":[{"type":"cgi","service":7}]})", {}, ""},
      {"empty output",
       "",
       {},
       "[json.exception.parse_error.101] parse error at line 1, column 1: syntax error while "
       "parsing value - unexpected end of input; expected '[', '{', or a literal"},
      {"two documents",
       "{}\n{}",
       {},
       "[json.exception.parse_error.101] parse error at line 2, column 1: syntax error while "
       "parsing value - unexpected '{'; expected end of input"},
      // The JSON library alone would stop reading at the NUL and accept the first two.
      {"a NUL byte after the document", std::string("{}\0", 3), {}, kNul},
      {"a NUL byte inside a name",
       std::string("{\"php\":[{\"type\":\"fpm\",\"service\":\"a\0b\"}]}", 40),
       {},
       kNul},
      {"a NUL byte in a broken document", std::string("{\0", 2), {}, kNul},
      {"a comment",
       "{} // registry",
       {},
       "[json.exception.parse_error.101] parse error at line 1, column 4: syntax error while "
       "parsing value - invalid literal; last read: '{} /'; expected end of input"},
      {"a string that is not UTF-8",
       "{\"php\":[{\"type\":\"fpm\",\"service\":\"caf\xe9\"}]}",
       {},
       "[json.exception.parse_error.101] parse error at line 1, column 38: syntax error while "
       "parsing value - invalid string: ill-formed UTF-8 byte; last read: '\"caf\xe9\"'"},
  });
}

}  // namespace
