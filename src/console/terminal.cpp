#include "console/terminal.h"

#include <chrono>
#include <thread>

bool openTerminal(std::string& failure) {
    failure = "No way to get the console handle";
    return false;
}
void closeTerminal() {}
bool terminalIsOpen() { return false; }
void terminalShowView() {}
void terminalPumpKeys() {}
void terminalSleep(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }
bool openTerminalOn(FILE*, FILE*, const char*, std::string& failure) {
    failure = "No way to get the console handle";
    return false;
}
