// Lines for standard output and standard error. Names in them come from data
// (pack entries, paths, TERM), so whatever bytes those hold, the terminal
// only ever receives printable text, and a line is never cut at a NUL byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Control bytes (but the line ends), DEL, C1 controls and bytes that are not
// UTF-8 become \xHH; in a locale whose character set is not UTF-8 every byte
// from 0x80 up does.
std::string escapedForTerminal(std::string_view text, bool utf8Terminal);
// How many bytes from text[at] form one well-formed UTF-8 character: 1 for
// ASCII, 0 where no well-formed sequence starts (C1 controls count as formed).
size_t utf8Length(std::string_view text, size_t at);
// The user's LC_CTYPE as the environment gives it now, without changing the
// program's locale.
bool localeIsUtf8();

// Writes all of the bytes, through short writes and interrupted calls.
// False, errno set, when a write failed (a full disk, a closed pipe).
// Only write() is called: a signal handler may use it.
bool writeWhole(int fd, std::string_view bytes);
// escapedForTerminal, then writeWhole.
bool writeLines(int fd, std::string_view text);
// The last words of a program: both texts written as they are. A lost
// write of standard output is said on standard error ("PROGRAM: cannot
// write standard output: REASON"); the status, or 2 when anything was lost.
int finishWithText(std::string_view program, int status, std::string_view out, std::string_view err);
// The same, the texts escaped as lines first.
int finishWithLines(std::string_view program, int status, std::string_view out, std::string_view err);
