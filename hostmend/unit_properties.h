// The state of units as `systemctl show` prints it.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// Property name to the value systemctl printed.
using UnitProperties = std::map<std::string, std::string, std::less<>>;

// The properties asked for, in the order of the table's columns where they have one.
inline constexpr std::array<std::string_view, 8> kStateProperties = {
    "LoadState", "ActiveState", "SubState",     "UnitFileState",
    "NRestarts", "MainPID",     "InvocationID", "ActiveEnterTimestamp"};

// The blocks of `systemctl show` for several units, in its order: "NAME=value" lines, one
// empty line between two units. A unit that printed nothing still has its (empty) block,
// so that blocks and units stay matched by position.
std::vector<UnitProperties> parseShowBlocks(std::string_view text);

// Whether a unit is down: loaded and failed, or loaded and inactive although it is not
// disabled or masked, or with a unit file systemd could not load.
bool isDown(const UnitProperties& properties);
