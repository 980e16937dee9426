// JSON values built as text, inside out, as the result files write them: a
// compact layout, one member a line at the top.
#pragma once

#include <string>
#include <utility>
#include <vector>

// Shortest round-trip; not a number or infinite is null.
std::string JsonNumber(double value);
// Quoted; control characters become spaces.
std::string JsonString(const std::string& value);
std::string JsonArray(const std::vector<std::string>& values);
// A member's own lines (a nested object's) move in with it.
std::string JsonObject(const std::vector<std::pair<std::string, std::string>>& members);
