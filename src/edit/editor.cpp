// The editor from its path to its exit status: a level file or a pack
// folder, and every way out (leaving, Ctrl+C, a failed file operation)
// saving the unsaved room beside its file first.
#include "console/console.h"
#include "edit/edit.h"
#include "shell/files.h"
#include "shell/flow.h"

namespace {
std::string report;

bool looksLikeLevelFile(const std::string& path) {
    return path.size() > 4 && path.compare(path.size() - 4, 4, ".lvl") == 0;
}

// The report line names the rescue copy when there is one.
void rescue() {
    std::string rescued = lastRescuePath();
    writeRescueNow();
    if (!rescued.empty()) report += (report.empty() ? "" : "\n") + ("quorvex-edit: unsaved room kept in " + rescued);
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
    try {
        PathKind kind = pathKind(path);
        if (kind == PathKind::Folder || (kind == PathKind::Missing && !looksLikeLevelFile(path))) {
            runPackEditor(path);
        } else if (kind == PathKind::Other) {
            report = "quorvex-edit: " + path + " is not a regular file";
            return 2;
        } else {
            if (kind == PathKind::Missing) {
                size_t slash = path.rfind('/');
                if (slash != std::string::npos && slash > 0) makeFolders(path.substr(0, slash));
                writeFileAtomically(path, roomFileText(freshRoomText(), Inheritance{}, true));
            }
            size_t slash = path.rfind('/');
            openRoom(path, slash == std::string::npos ? path : path.substr(slash + 1), Inheritance{}, true);
            runRoomEditor();
        }
        return 0;
    } catch (const ProgramEnd& end) {
        rescue();
        return end.status;
    } catch (const ConsoleInterrupt&) {
        rescue();
        return 130;
    } catch (const FileFailure& failure) {
        report = editorFailureText(failure);
        rescue();
        return 2;
    }
}
