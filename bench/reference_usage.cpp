// The floor for `coremend --help`: a C++ program, linked like the tools (libstdc++
// dynamically), that only prints the usage line.
#include <unistd.h>

#include <string_view>

int main() {
  constexpr std::string_view usage = "Usage: coremend [--check|--repair]\n";
  return ::write(STDOUT_FILENO, usage.data(), usage.size()) == static_cast<ssize_t>(usage.size())
             ? 0
             : 1;
}
