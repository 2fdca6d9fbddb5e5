// A test body run in a child process, where faults (mounts, limits, kills)
// stay with the child; a private mount table for it; the saves' temporaries.
#pragma once

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// What body returned, or "skip: ..." when no child could be made.
inline std::string inChild(const std::function<std::string()>& body) {
    int ends[2];
    if (pipe(ends) != 0) return "skip: no pipe";
    pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        std::string said = body();
        ssize_t ignored = write(ends[1], said.data(), said.size());
        (void)ignored;
        _exit(0);
    }
    close(ends[1]);
    std::string said;
    char chunk[4096];
    for (ssize_t got; (got = read(ends[0], chunk, sizeof chunk)) > 0;) said.append(chunk, size_t(got));
    close(ends[0]);
    waitpid(child, nullptr, 0);
    return said;
}

// A mount table of the calling process's own, so mounts vanish with it.
inline bool privateMounts() {
    return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// Names in the folder that are temporary files of a save.
inline std::vector<std::string> temporaries(const std::filesystem::path& folder) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".tmp") found.push_back(entry.path().filename().string());
    return found;
}
