// A small JSON reader for the tests that check tolvane's --json output:
// objects keep their keys in order, numbers are doubles.
#pragma once

#include <string>
#include <utility>
#include <vector>

enum json_type { JSON_NULL, JSON_BOOLEAN, JSON_NUMBER, JSON_STRING, JSON_ARRAY, JSON_OBJECT };

struct json_value {
    json_type type = JSON_NULL;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<json_value> items;
    std::vector<std::pair<std::string, json_value>> members;

    // The member named key; a null value when there is none.
    const json_value& operator[](const std::string& key) const;
    std::vector<std::string> keys() const;
};

// Reads one JSON document that fills text (white space around it allowed).
bool parse_json(const std::string& text, json_value* value);

// The first elements of pairs, in order.
template <typename T>
std::vector<std::string> keys_of(const std::vector<std::pair<const char*, T>>& pairs) {
    std::vector<std::string> keys;
    for (const auto& pair : pairs) keys.push_back(pair.first);
    return keys;
}
