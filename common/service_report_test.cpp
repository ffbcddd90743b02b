#include "service_report.h"

#include <gtest/gtest.h>

#include "output.h"

namespace {

struct ReportCase {
  std::string action;
  std::string unit;
  ChildRun run;
  std::string line;  // the compact form, without its newline
};

TEST(ServiceReport, ComposesTheMessageAndStatus) {
  // clang-format off
  const std::vector<ReportCase> cases = {
      {"restart", "tarnwick.service", {0, "", ""},
       R"({"message":"","name":"tarnwick.service","status":"running"})"},
      {"status", "nginx", {3, "A\n", ""},
       R"({"message":"A\n\nFinished with exit code 3","name":"nginx","status":"stopped"})"},
      {"stop", "nginx", {1, "", "B\n"},
       R"({"message":"\nB\n\nFinished with exit code 1","name":"nginx","status":"running"})"},
      {"restart", "nginx", {0, "A", "B"}, R"({"message":"A\nB","name":"nginx","status":"running"})"},
      {"status", "x", {0, "A\n", ""}, R"({"message":"A\n","name":"x","status":"running"})"},
      {"restart", "x", {9, "", ""},
       R"({"message":"\nFinished with exit code 9","name":"x","status":"stopped"})"},
      // Only the exact word "stop" reverses the rule.
      {"stop", "x", {0, "", ""}, R"({"message":"","name":"x","status":"stopped"})"},
      {"stop", "x", {5, "", ""},
       R"({"message":"\nFinished with exit code 5","name":"x","status":"running"})"},
      {"Stop", "x", {0, "", ""}, R"({"message":"","name":"x","status":"running"})"},
      {"stop ", "x", {0, "", ""}, R"({"message":"","name":"x","status":"running"})"},
      {"STOP", "x", {1, "", ""},
       R"({"message":"\nFinished with exit code 1","name":"x","status":"stopped"})"},
      // Escaping: quotes, backslash, the short escapes, other control bytes as \u00xx,
      // UTF-8 unchanged, "/" unescaped.
      {"status", "a b/\"c\"", {0, "\x1b[1m\t\\\r\b\f\x01 \xc3\xa9\xe2\x97\x8f", ""},
       "{\"message\":\"\\u001b[1m\\t\\\\\\r\\b\\f\\u0001 \xc3\xa9\xe2\x97\x8f\",\"name\":\"a "
       "b/\\\"c\\\"\",\"status\":\"running\"}"},
      // Bytes that are not UTF-8 become U+FFFD; the line stays valid JSON.
      {"status", "x", {0, "ok\xff" "end", ""},
       "{\"message\":\"ok\xef\xbf\xbd" "end\",\"name\":\"x\",\"status\":\"running\"}"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.action + " " + c.unit);
    EXPECT_EQ(toJsonText(makeServiceReport(c.action, c.unit, c.run)), c.line);
  }
}

TEST(ServiceReport, IndentsAnArrayOfReportsByTwo) {
  nlohmann::json reports;
  EXPECT_EQ(toJsonText(reports, 2), "null");
  reports.push_back(makeServiceReport("try-restart", "apache2", {0, "", ""}));
  reports.push_back(makeServiceReport("try-restart", "nginx", {5, "", "x\xc3"}));
  EXPECT_EQ(toJsonText(reports, 2),
            "[\n"
            "  {\n"
            "    \"message\": \"\",\n"
            "    \"name\": \"apache2\",\n"
            "    \"status\": \"running\"\n"
            "  },\n"
            "  {\n"
            "    \"message\": \"\\nx\xef\xbf\xbd\\nFinished with exit code 5\",\n"
            "    \"name\": \"nginx\",\n"
            "    \"status\": \"stopped\"\n"
            "  }\n"
            "]");
}

}  // namespace
