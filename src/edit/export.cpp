// quorvex-edit --export: a clean copy of a pack to share. Only the index,
// the rooms it lists and their pars go into it, nothing else of the pack folder (no `~`
// backups, rescue copies or files the index does not name). The checker
// looks at the pack first, and a pack with errors is exported only when the
// author asks for it. The copy is made whole under a temporary name beside
// where it goes and renamed into place, never over anything there.
#include <unistd.h>

#include <set>

#include "check/check.h"
#include "edit/edit.h"
#include "levels/levelformat.h"
#include "levels/levels.h"
#include "system/files.h"
#include "system/folders.h"

namespace {

// What the copy made so far, to take away again when it fails.
struct Made {
    std::vector<std::string> files, folders;  // in the order made
};

void makeFolders(const Folder& out, const std::string& name, Made& made) {
    std::string above = splitName(name).first;
    if (above == ".") return;
    for (size_t end = 0; end != std::string::npos;) {
        end = above.find('/', end + 1);
        std::string part = above.substr(0, end);
        if (lookAt(out, part).kind == FileKind::Missing) made.folders.push_back(part);
        makeFoldersIn(out, part);
    }
}

void takeAway(const Folder& destination, const std::string& temporary, const Folder& out, const Made& made) {
    try {
        for (const std::string& file : made.files) removeIn(out, file);
        for (auto folder = made.folders.rbegin(); folder != made.folders.rend(); ++folder) removeFolderIn(out, *folder);
        removeFolderIn(destination, temporary);
    } catch (const FileFailure&) {
        // Left for the author to see: the report names the failure that mattered.
    }
}

// A bare name in a game folder is a pack where the game finds packs, as when editing.
std::string packPathFor(const std::string& path) {
    bool bare = path.find('/') == std::string::npos;
    std::string inGame = "levels/custom levels/" + path;
    if (bare && pathKind(path) != PathKind::Folder && pathKind(inGame) == PathKind::Folder) return inGame;
    return path;
}

}  // namespace

int exportPack(const std::string& packArgument, const std::string& into, bool evenWithErrors, std::string& out,
               std::string& err) {
    std::string path = packPathFor(packArgument);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    std::string name = splitName(path).second;
    Folder pack = openPackFolder(path);
    if (!isOpen(pack)) throw FileFailure{"open", path, reasonFor(errno)};
    OpenFile index = openPackFile(pack, name + ".txt");
    if (name.empty() || name == "." || name == ".." || index.fd < 0) {
        err += "quorvex-edit: " + path + " is no pack: it holds no index " + name + ".txt\n";
        return 2;
    }
    PackIndex entries = parsePackIndex(readOpenFile(index, hostPath(pathIn(pack, name + ".txt")), levelFileLimit));

    std::string shown = (into.back() == '/' ? into : into + "/") + name;
    if (lookAt(currentFolder(), shown).kind != FileKind::Missing) {
        err += "quorvex-edit: " + shown + " is there already: nothing was exported\n";
        return 2;
    }
    int checked = runChecker({path}, out, err);
    if (checked == 2) return 2;
    if (checked == 1 && !evenWithErrors) {
        err += "quorvex-edit: " + path + " was not exported: the checker found errors (--force exports it)\n";
        return 1;
    }

    makeFoldersIn(currentFolder(), into);
    Folder destination = openFolder(into, Reach::Anywhere);
    if (!isOpen(destination)) throw FileFailure{"open", into, reasonFor(errno)};
    std::string temporary = "." + name + ".export-" + std::to_string(getpid());
    for (int n = 1; lookAt(destination, temporary).kind != FileKind::Missing; ++n)
        temporary = "." + name + ".export-" + std::to_string(getpid()) + "-" + std::to_string(n);
    makeFoldersIn(destination, temporary);
    // The copy held beneath its folder, as the pack is: no name leads out of it.
    Folder copy = openFolderIn(destination, temporary, true);
    copy.reach = Reach::Beneath;
    Made made;
    int rooms = 0, left = 0;
    try {
        std::set<std::string> copied;
        for (const std::string& entry : entries.entries) {
            std::string file = packFileName(entry + ".lvl");
            if (!copied.insert(file).second) continue;
            OpenFile room = openPackFile(pack, file);
            if (room.fd < 0) {
                ++left;  // no file of the pack: the checker named it
                continue;
            }
            makeFolders(copy, file, made);
            made.files.push_back(file);
            copyOpenFileIn(room, pathIn(pack, file), copy, file, {});
            ++rooms;
        }
        OpenFile whole = openPackFile(pack, name + ".txt");
        made.files.push_back(name + ".txt");
        copyOpenFileIn(whole, pathIn(pack, name + ".txt"), copy, name + ".txt", {});
        // The pars go with the rooms they were proven on (the game plays each again before it shows it).
        if (OpenFile pars = openPackFile(pack, name + ".par"); pars.look.kind == FileKind::File) {
            made.files.push_back(name + ".par");
            copyOpenFileIn(pars, pathIn(pack, name + ".par"), copy, name + ".par", {});
        }
        if (!renameIn(destination, temporary, name)) {
            takeAway(destination, temporary, copy, made);
            err += "quorvex-edit: " + shown + " is there already: nothing was exported\n";
            return 2;
        }
    } catch (const FileFailure&) {
        takeAway(destination, temporary, copy, made);
        throw;
    }
    out += "Exported " + path + " to " + shown + ": its index and " + std::to_string(rooms) +
           (rooms == 1 ? " room" : " rooms") +
           (left > 0 ? ", " + std::to_string(left) + (left == 1 ? " entry" : " entries") + " without a file left out"
                     : "") +
           (checked == 1   ? ", errors and all"
            : checked == 3 ? "; not every room was fully checked"
                           : "") +
           ".\n";
    return 0;
}
