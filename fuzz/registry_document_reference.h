// The registry reading over the whole document, as the reference for the streaming one.
#pragma once

#include <string>
#include <vector>

// The same result as fpmServicesFromDocument, or the same error.
std::vector<std::string> fpmServicesFromWholeDocument(const std::string& text);
