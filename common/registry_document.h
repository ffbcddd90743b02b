// Reading the PHP handler registry's document.
#pragma once

#include <string>
#include <vector>

// The "service" names of the handlers whose "type" is "fpm", in the registry's order ("php"
// as an array) or in key order ("php" as an object). A document of another shape fails with
// the JSON library's own errors: parse errors, type error 305 for a value that is neither
// an object nor null where one is read by key, type error 302 for a "service" that is not
// a string. Output holding a NUL byte anywhere is no document: "interpbook printed a NUL
// byte". Nothing is returned from a document that fails.
std::vector<std::string> fpmServicesFromDocument(const std::string& text);
