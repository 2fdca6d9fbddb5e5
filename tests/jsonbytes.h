// Reads a string of the checker's JSON back into bytes (the checker's tests and its fuzz target).
#pragma once

#include <string>
#include <string_view>

// From `at`, the opening quote, to the closing one (where `at` is left). Escaped are '"', '\\',
// control characters as \u00XX (C1 ones for their UTF-8), bytes that are not UTF-8 as \uDC80..\uDCFF.
inline std::string jsonBytes(std::string_view json, size_t& at) {
    std::string bytes;
    for (++at; at < json.size() && json[at] != '"'; ++at) {
        if (json[at] == '\\' && json[++at] == 'u') {
            unsigned code = std::stoul(std::string(json.substr(at + 1, 4)), nullptr, 16);
            at += 4;
            if (code >= 0x80 && code < 0xA0) bytes += '\xC2';
            bytes += static_cast<char>(code & 0xFF);
        } else {
            bytes += json[at];
        }
    }
    return bytes;
}
