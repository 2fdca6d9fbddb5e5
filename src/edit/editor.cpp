// The editor from its path to its exit status: a level file or a pack
// folder, and every way out (leaving, Ctrl+C, a failed file operation)
// saving the unsaved room beside its file first.
#include "console/console.h"
#include "edit/edit.h"
#include "levels/levelformat.h"
#include "system/files.h"
#include "system/folders.h"

namespace {
std::string report;

bool looksLikeLevelFile(const std::string& path) {
    return path.size() > 4 && path.compare(path.size() - 4, 4, ".lvl") == 0;
}

// The report names where the rescue copy is, or every place that failed.
void rescue() {
    std::string rescued = writeRescueNow();
    if (!rescued.empty()) report += (report.empty() ? "" : "\n") + rescued;
}
// A file named n.lvl beside 1.lvl to (n-1).lvl is room n of a series: the
// game loads it over those, and quorvex-check checks it so. The editor
// shows and checks it the same way.
Inheritance seriesInheritance(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    int number = seriesRoomNumber(path.substr(folder.size()));
    if (number == 0) return {};
    // The earlier rooms, one file at a time, as the game reads them.
    Inheritance inherited;
    Folder here = currentFolder();
    for (int n = 1; n < number; ++n) {
        std::string room = folder + std::to_string(n) + ".lvl";
        OpenFile opened = openFileIn(here, room);
        if (opened.fd < 0) return {};
        applyEarlierRoom(inherited, readLevelLines(opened, room));
    }
    inherited.firstRoom = false;
    return inherited;
}

}  // namespace

const std::string& editorReport() { return report; }

std::string editorFailureText(const FileFailure& failure) {
    std::string text = describeFailure(failure);
    if (text.rfind("quorvex:", 0) == 0) text.replace(0, 7, "quorvex-edit");
    return text;
}

int runEditor(const std::string& path) {
    report.clear();
    hideCursor();
    run.soundOn = true;
    run.baseDirectory = currentDirectory() + "/";
    holdGameFolder(run.baseDirectory);
    try {
        PathKind kind = pathKind(path);
        // A new pack's bare name in a game folder: made where the game finds packs.
        if (kind == PathKind::Missing && !looksLikeLevelFile(path) && path.find('/') == std::string::npos &&
            pathKind("levels") == PathKind::Folder)
            return runEditor("levels/custom levels/" + path);
        if (kind == PathKind::Folder && looksLikeLevelFile(path)) {
            // Never made into a pack: the author named a level file.
            report = "quorvex-edit: " + path + " is a folder, not a level file";
            return 2;
        }
        if (kind == PathKind::Folder || (kind == PathKind::Missing && !looksLikeLevelFile(path))) {
            runPackEditor(path);
        } else if (kind == PathKind::Other) {
            report = "quorvex-edit: " + path + " is not a regular file";
            return 2;
        } else {
            // A room not there yet is made by the first save, not before:
            // until then nothing is created, and no link is followed.
            size_t slash = path.rfind('/');
            openRoom(authorsFile(path), shownName(slash == std::string::npos ? path : path.substr(slash + 1)),
                     seriesInheritance(path), true);
            if (!edit.savedTextKnown && edit.rescueTaken.name.empty()) {
                // The fresh room is where changes count from: left unchanged, nothing is made.
                edit.savedTextKnown = true;
            }
            runRoomEditor();
        }
        return 0;
    } catch (const ConsoleInterrupt&) {
        rescue();
        return 130;
    } catch (const FileFailure& failure) {
        report = editorFailureText(failure);
        rescue();
        return 2;
    }
}
