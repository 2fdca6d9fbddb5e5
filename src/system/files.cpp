#include "system/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "system/folders.h"

// The working directory as the system gave it: a backslash in it is part of
// a folder's name. Only what follows it comes from data.
static std::string literalDirectory;

void (*fileUseWatcher)(const char* operation, int fd, std::string_view name) = nullptr;

std::string hostPath(std::string_view path) {
    std::string mapped(path);
    size_t from = 0;
    if (!literalDirectory.empty() && path.substr(0, literalDirectory.size()) == literalDirectory)
        from = literalDirectory.size();
    for (size_t i = from; i < mapped.size(); ++i)
        if (mapped[i] == '\\') mapped[i] = '/';
    return mapped;
}

bool fileExists(const std::string& path) {
    struct stat info;
    return stat(hostPath(path).c_str(), &info) == 0;
}

std::string resolvedPath(const std::string& hostPath) {
    char* resolved = realpath(hostPath.c_str(), nullptr);
    if (resolved == nullptr) return "";
    std::string result(resolved);
    std::free(resolved);
    return result;
}

std::string currentDirectory() {
    std::string dir(4096, '\0');
    while (getcwd(dir.data(), dir.size()) == nullptr) {
        if (errno != ERANGE) return ".";
        dir.resize(dir.size() * 2);
    }
    dir.resize(std::strlen(dir.c_str()));
    literalDirectory = dir + "/";
    return dir;
}

namespace {

// The folder that holds a host path, reached as the user's own, and the
// last part of the path.
Folder parentOf(const std::string& host, std::string& base) {
    auto [folder, last] = splitName(host);
    base = last;
    Folder parent = openFolder(folder, Reach::Anywhere);
    if (folder == ".") parent.path.clear();  // reports name the path as given
    return parent;
}

FileFailure failure(const char* operation, const std::string& path) { return {operation, path, std::strerror(errno)}; }

}  // namespace

int openDataFile(const std::string& hostPath, std::string& reason) {
    Folder here = currentFolder();
    FileLook look;
    int fd = openForReading(here, hostPath, look);
    if (fd >= 0) return fd;
    if (look.kind == FileKind::Folder)
        reason = std::strerror(EISDIR);
    else if (look.kind == FileKind::Other)
        reason = "Not a regular file";
    else
        reason = std::strerror(look.error);
    return look.kind == FileKind::Folder || look.kind == FileKind::Other ? -2 : -1;
}

bool readTextFileIfThere(const std::string& path, std::string& text, size_t maxBytes) {
    FileLook look;
    return readFileIfThere(currentFolder(), hostPath(path), text, look, maxBytes);
}

std::string readTextFile(const std::string& path, size_t maxBytes) {
    std::string text;
    FileLook look;
    if (!readFileIfThere(currentFolder(), hostPath(path), text, look, maxBytes))
        throw FileFailure{"open", hostPath(path), std::strerror(look.error)};
    return text;
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

void writeFileAtomically(const std::string& path, std::string_view contents) {
    writeFileAtomically(path, contents, FileKeep{});
}

void writeFileAtomically(const std::string& path, std::string_view contents, const FileKeep& keep) {
    std::string base, host = hostPath(path);
    Folder parent = parentOf(host, base);
    if (!isOpen(parent)) throw failure("write", host);
    replaceFileIn(parent, base, contents, keep);
}

FileKeep keptOf(const std::string& path) { return keptOfIn(currentFolder(), hostPath(path)); }

void copyFileAtomically(const std::string& from, const std::string& to, const FileKeep& keep) {
    std::string base, host = hostPath(to);
    Folder parent = parentOf(host, base);
    if (!isOpen(parent)) throw failure("write", host);
    copyFileIn(currentFolder(), hostPath(from), parent, base, keep);
}

bool deleteFileIfThere(const std::string& path) {
    std::string base, host = hostPath(path);
    Folder parent = parentOf(host, base);
    if (!isOpen(parent)) {
        if (errno == ENOENT) return false;
        throw failure("delete", host);
    }
    return removeIn(parent, base);
}

void deleteFile(const std::string& path) {
    if (!deleteFileIfThere(path)) {
        errno = ENOENT;
        throw failure("delete", hostPath(path));
    }
}

std::string describeFailure(const FileFailure& f) {
    return "quorvex: cannot " + f.operation + " " + f.path + ": " + f.reason;
}
