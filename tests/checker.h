// The level checker run in-process on rooms written for the purpose.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "check/check.h"
#include "harness.h"

// A room walled all round: rows 2 to 21 given from column 2 (padded with
// spaces to column 79), then the goods line and the message lines.
inline std::string boxRoom(std::map<int, std::string> inside, const std::string& goods = "0",
                           const std::vector<std::string>& messages = {}) {
    std::string text = std::string(80, '1') + "\n";
    for (int y = 2; y <= 21; ++y) inside[y].resize(78, ' '), text += "1" + inside[y] + "1\n";
    text += std::string(80, '1') + "\n" + goods + "\n";
    for (const std::string& m : messages) text += m + "\n";
    return text;
}

// Start at the left of the floor (row 21), exit at the right.
inline std::map<int, std::string> flatRoom() { return {{20, "i" + std::string(75, ' ') + "9"}}; }

class Checker : public GameRun {
protected:
    int check(const std::vector<std::string>& arguments) {
        out.clear(), err.clear();
        return runChecker(arguments, out, err);
    }
    int checkRoom(const std::string& text, std::vector<std::string> options = {}) {
        writeFile("room.lvl", text);
        options.push_back("room.lvl");
        return check(options);
    }
    bool says(const std::string& text) const { return out.find(text) != std::string::npos; }

    std::string out, err;
};
