// Reads a string of the checker's JSON back into bytes (the checker's tests and its fuzz target).
#pragma once

#include <string>
#include <string_view>

// From `at`, the string's opening quote, to its closing quote (where `at` is
// left): \uDC80..\uDCFF are the bytes that were not UTF-8, other escapes
// their code point in UTF-8.
inline std::string jsonBytes(std::string_view json, size_t& at) {
    std::string bytes;
    for (++at; at < json.size() && json[at] != '"'; ++at) {
        if (json[at] != '\\') {
            bytes += json[at];
            continue;
        }
        char escape = json[++at];
        if (escape != 'u') {
            bytes += escape == 'n' ? '\n' : escape == 't' ? '\t' : escape;
            continue;
        }
        unsigned code = std::stoul(std::string(json.substr(at + 1, 4)), nullptr, 16);
        at += 4;
        if (code >= 0xDC80 && code <= 0xDCFF) {
            bytes += static_cast<char>(code - 0xDC00);
        } else if (code < 0x80) {
            bytes += static_cast<char>(code);
        } else if (code < 0x800) {
            bytes += static_cast<char>(0xC0 | code >> 6);
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            bytes += static_cast<char>(0xE0 | code >> 12);
            bytes += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return bytes;
}
