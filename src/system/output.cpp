#include "system/output.h"

#include <errno.h>
#include <langinfo.h>
#include <locale.h>
#include <strings.h>
#include <unistd.h>

#include <cstring>
#include <string>

size_t utf8Length(std::string_view text, size_t at) {
    auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
    unsigned lead = byte(at);
    if (lead < 0x80) return 1;
    if (lead < 0xC2 || lead > 0xF4) return 0;
    size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    // No overlong forms, no surrogates, nothing above U+10FFFF.
    unsigned low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    unsigned high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    unsigned second = byte(at + 1);
    if (second < low || second > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    return length;
}

std::string escapedForTerminal(std::string_view text, bool utf8Terminal) {
    static const char digits[] = "0123456789ABCDEF";
    std::string shown;
    shown.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t length = c >= 0x80 && utf8Terminal ? utf8Length(text, i) : 0;
        bool c1Control = c == 0xC2 && length == 2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (length > 0 && !c1Control) {
            shown.append(text.substr(i, length));
            i += length;
            continue;
        }
        bool plain = (c >= 0x20 && c < 0x7F) || c == '\n';
        if (plain) {
            shown += static_cast<char>(c);
        } else {
            shown += "\\x";
            shown += digits[c >> 4];
            shown += digits[c & 15];
        }
        ++i;
    }
    return shown;
}

bool localeIsUtf8() {
    locale_t user = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    const char* codeset = user ? nl_langinfo_l(CODESET, user) : "";
    bool utf8 = strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0;
    if (user) freelocale(user);
    return utf8;
}

bool writeWhole(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t put = write(fd, bytes.data(), bytes.size());
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = ENOSPC;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(put));
    }
    return true;
}

bool writeLines(int fd, std::string_view text) { return writeWhole(fd, escapedForTerminal(text, localeIsUtf8())); }

int finishWithText(std::string_view program, int status, std::string_view out, std::string_view err) {
    std::string lost;
    if (!writeWhole(STDOUT_FILENO, out))
        lost = std::string(program) + ": cannot write standard output: " + std::strerror(errno) + "\n";
    bool written = writeWhole(STDERR_FILENO, err) && lost.empty();
    if (!lost.empty()) writeWhole(STDERR_FILENO, lost);
    return written ? status : 2;
}

int finishWithLines(std::string_view program, int status, std::string_view out, std::string_view err) {
    bool utf8 = localeIsUtf8();
    return finishWithText(program, status, escapedForTerminal(out, utf8), escapedForTerminal(err, utf8));
}
