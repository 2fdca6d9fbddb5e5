#include "shell/missingfile.h"

#include "console/console.h"

void showMissingFile(const std::string& path) {
    clearScreen();
    setTextColor(15);
    const std::string lines[] = {
        "The Quorvex has stoped because there where important files missing.",
        "Reinstaling the game may solve the problem.",
        "",
        "File missing: " + path,
        "",
        "Press ENTER to go to Menu.",
    };
    for (const std::string& line : lines) {
        writeText(line);
        writeLineEnd();
    }
    readLine();
}
