// A recursive-descent JSON reader, strict enough to catch malformed output.

#include "tests/support/json_reader.h"

#include <stdlib.h>
#include <string.h>

namespace {

struct reader {
    const std::string& text;
    size_t at = 0;

    void skip_space() {
        while (at < text.size() && strchr(" \t\r\n", text[at])) ++at;
    }
    bool take(char c) {
        skip_space();
        if (at < text.size() && text[at] == c) {
            ++at;
            return true;
        }
        return false;
    }
    bool take_word(const char* word) {
        size_t length = strlen(word);
        if (text.compare(at, length, word) != 0) return false;
        at += length;
        return true;
    }

    bool string(std::string* out) {
        if (!take('"')) return false;
        while (at < text.size() && text[at] != '"') {
            char c = text[at++];
            if ((unsigned char)c < 0x20) return false;
            if ((unsigned char)c >= 0x80) {
                // JSON text is UTF-8: a lead byte and its continuation bytes.
                unsigned char lead = (unsigned char)c;
                size_t more = lead >= 0xf0 && lead <= 0xf4   ? 3
                              : lead >= 0xe0                 ? 2
                              : lead >= 0xc2 && lead <= 0xdf ? 1
                                                             : 9;
                if (more == 9 || at + more > text.size()) return false;
                *out += c;
                for (size_t k = 0; k < more; ++k) {
                    if (((unsigned char)text[at] & 0xc0) != 0x80) return false;
                    *out += text[at++];
                }
                continue;
            }
            if (c != '\\') {
                *out += c;
                continue;
            }
            if (at >= text.size()) return false;
            char escaped = text[at++];
            const char* plain = strchr("\"\\/bfnrt", escaped);
            if (!plain) {
                if (escaped != 'u' || at + 4 > text.size()) return false;
                *out += (char)strtol(text.substr(at, 4).c_str(), nullptr, 16);
                at += 4;
            } else {
                const char* meaning = "\"\\/\b\f\n\r\t";
                *out += meaning[plain - "\"\\/bfnrt"];
            }
        }
        return take('"');
    }

    bool value(json_value* out) {
        skip_space();
        if (at >= text.size()) return false;
        char c = text[at];
        if (c == '{') return object(out);
        if (c == '[') return array(out);
        if (c == '"') {
            out->type = JSON_STRING;
            return string(&out->text);
        }
        if (take_word("true") || take_word("false")) {
            out->type = JSON_BOOLEAN;
            out->boolean = text[at - 1] == 'e' && text[at - 2] == 'u';
            return true;
        }
        if (take_word("null")) return true;
        const char* start = text.c_str() + at;
        char* end = nullptr;
        out->number = strtod(start, &end);
        if (end == start) return false;
        out->type = JSON_NUMBER;
        at += (size_t)(end - start);
        return true;
    }

    bool array(json_value* out) {
        out->type = JSON_ARRAY;
        take('[');
        if (take(']')) return true;
        do {
            out->items.emplace_back();
            if (!value(&out->items.back())) return false;
        } while (take(','));
        return take(']');
    }

    bool object(json_value* out) {
        out->type = JSON_OBJECT;
        take('{');
        if (take('}')) return true;
        do {
            std::string key;
            skip_space();
            if (!string(&key) || !take(':')) return false;
            out->members.emplace_back(key, json_value());
            if (!value(&out->members.back().second)) return false;
        } while (take(','));
        return take('}');
    }
};

}  // namespace

const json_value& json_value::operator[](const std::string& key) const {
    static const json_value none;
    for (const auto& member : members)
        if (member.first == key) return member.second;
    return none;
}

std::vector<std::string> json_value::keys() const {
    std::vector<std::string> names;
    for (const auto& member : members) names.push_back(member.first);
    return names;
}

bool parse_json(const std::string& text, json_value* value) {
    reader in{text};
    if (!in.value(value)) return false;
    in.skip_space();
    return in.at == text.size();
}
