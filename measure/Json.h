// Result files' JSON, built as text inside out: numbers shortest round-trip
// (null when not finite), strings escaped, arrays on one line, objects one
// member a line with nested objects' lines moved in.
#pragma once

#include <string>
#include <utility>
#include <vector>

std::string JsonNumber(double value);
std::string JsonString(const std::string& value);
std::string JsonArray(const std::vector<std::string>& values);
std::string JsonObject(const std::vector<std::pair<std::string, std::string>>& members);
