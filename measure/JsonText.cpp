#include "measure/JsonText.h"

#include <array>
#include <charconv>
#include <cmath>

std::string JsonNumber(double value) {
    if (!std::isfinite(value))
        return "null";
    std::array<char, 64> text;
    const auto end = std::to_chars(text.begin(), text.end(), value).ptr;
    return {text.begin(), end};
}

std::string JsonString(const std::string& value) {
    std::string out = "\"";
    for (const char c : value) {
        if (c == '"' || c == '\\')
            out += {'\\', c};
        else if (static_cast<unsigned char>(c) < 0x20)
            out += ' ';
        else
            out += c;
    }
    return out + "\"";
}

std::string JsonArray(const std::vector<std::string>& values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i)
        out += (i ? ", " : "") + values[i];
    return out + "]";
}

std::string JsonObject(const std::vector<std::pair<std::string, std::string>>& members) {
    std::string out = "{";
    for (std::size_t i = 0; i < members.size(); ++i) {
        out += (i ? ",\n  " : "\n  ") + JsonString(members[i].first) + ": ";
        for (const char c : members[i].second)
            out += c == '\n' ? std::string("\n  ") : std::string(1, c);
    }
    return out + "\n}";
}
