// The file layer: the only game code that touches the file system.
// Paths from data may use '\' as a folder separator; it is mapped to '/'.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

// A text-file operation that failed. The program ends with the terminal
// restored, a one-line report and status 2.
struct FileFailure {
    std::string operation;  // "read", "write", "delete"
    std::string path;
    std::string reason;
};

// '\' becomes '/', except in the working directory that currentDirectory gave.
std::string hostPath(std::string_view path);
bool fileExists(const std::string& path);  // literal: a file or a folder
// The absolute path with every link, "." and ".." resolved; "" when some
// part of it does not exist or cannot be followed. The path is taken as it
// is. Only for showing where a folder is: what a file may be is decided on
// the descriptor that is read or written (system/folders.h).
std::string resolvedPath(const std::string& hostPath);
std::string currentDirectory();

// Opens a data file for reading only when it is a regular file, without ever
// waiting. -1 when it cannot be opened, -2 when it is a folder, FIFO, device
// or socket; reason then holds why. The descriptor tested is the one returned.
int openDataFile(const std::string& hostPath, std::string& reason);
// Reads at most maxBytes of the file (a runaway file cannot eat memory or hang).
std::string readTextFile(const std::string& path, size_t maxBytes = 4u << 20);
// The same, but false when there is no such file, or a broken or looping
// link in its place (nothing thrown for that).
bool readTextFileIfThere(const std::string& path, std::string& text, size_t maxBytes = 4u << 20);
// Splits text at CR LF, LF or a lone CR; a final line without an end counts.
std::vector<std::string_view> splitLines(std::string_view text);
// Replaces the file whole: a new temporary file of its own name beside it
// ("<name>.<pid>.<letters>.tmp"), flush, sync, rename. A failed write removes
// its temporary file; leftovers of killed runs go at the next write.
void writeFileAtomically(const std::string& path, std::string_view contents);
// What a replaced file keeps: its permission bits and, where the system
// allows it, its owner and group (-1: as a new file gets them).
// And, when laterThan is set, a time after it: so that of two files the
// one written last is the newer whatever the clock says.
struct FileKeep {
    int mode = -1;
    long owner = -1, group = -1;
    struct timespec laterThan = {0, 0};
};
FileKeep keptOf(const std::string& path);  // of the file there now (following links); all -1 when none
void writeFileAtomically(const std::string& path, std::string_view contents, const FileKeep& keep);
// A byte copy of the whole file from, however large, replacing to atomically.
void copyFileAtomically(const std::string& from, const std::string& to, const FileKeep& keep);
void deleteFile(const std::string& path);
// The same; false when there was nothing to delete (another game may have just deleted it).
bool deleteFileIfThere(const std::string& path);

// Set only by tests and the fuzzer, to see the layer at work: told of every
// file the layer has just looked at ("look", nothing read), opened for
// reading ("read"), or its names ("list"), or created to replace another ("write"), given its
// descriptor; and of every entry it is about to
// rename, delete or make as a folder ("rename", "delete", "folder"), given
// the descriptor of the folder that holds it and the entry's name.
extern void (*fileUseWatcher)(const char* operation, int fd, std::string_view name);

// The report line for a failure, as printed on standard error.
std::string describeFailure(const FileFailure& failure);
