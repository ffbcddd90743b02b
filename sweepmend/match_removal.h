// Removing one cleanup match without ever leaving it through a symbolic link.
#pragma once

#include <string>
#include <system_error>

// Removes `match`, as the expansion wrote it, with everything under it. A symbolic link,
// marked with "/" or not and at any depth, is removed as a link; what it points to stays.
// Returns the reason of the first failure; what was removed before it stays removed.
std::error_code removeMatch(const std::string& match);
