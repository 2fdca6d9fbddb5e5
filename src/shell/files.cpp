#include "shell/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

// The working directory as the system gave it: a backslash in it is part of
// a folder's name. Only what follows it comes from data.
static std::string literalDirectory;

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

static FileFailure failure(const char* operation, const std::string& path) {
    return {operation, path, std::strerror(errno)};
}

std::string readTextFile(const std::string& path, size_t maxBytes) {
    std::string host = hostPath(path);
    int fd = open(host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw failure("open", host);
    std::string text;
    char chunk[65536];
    while (text.size() < maxBytes) {
        ssize_t got = read(fd, chunk, std::min(sizeof chunk, maxBytes - text.size()));
        if (got < 0) {
            if (errno == EINTR) continue;
            FileFailure f = failure("read", host);
            close(fd);
            throw f;
        }
        if (got == 0) break;
        text.append(chunk, static_cast<size_t>(got));
    }
    close(fd);
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
    std::string host = hostPath(path);
    std::string temporary = host + ".tmp";
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw failure("write", host);
    size_t done = 0;
    while (done < contents.size()) {
        ssize_t put = write(fd, contents.data() + done, contents.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            FileFailure f = failure("write", host);
            close(fd);
            unlink(temporary.c_str());
            throw f;
        }
        done += static_cast<size_t>(put);
    }
    bool synced = fsync(fd) == 0;
    FileFailure f = failure("write", host);
    if (close(fd) != 0 && synced) {
        synced = false;
        f = failure("write", host);
    }
    if (!synced) {
        unlink(temporary.c_str());
        throw f;
    }
    if (rename(temporary.c_str(), host.c_str()) != 0) {
        FileFailure f = failure("write", host);
        unlink(temporary.c_str());
        throw f;
    }
}

void deleteFile(const std::string& path) {
    std::string host = hostPath(path);
    if (unlink(host.c_str()) != 0) throw failure("delete", host);
}

std::string describeFailure(const FileFailure& f) {
    return "quorvex: cannot " + f.operation + " " + f.path + ": " + f.reason;
}
