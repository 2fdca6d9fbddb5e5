// The terminal form: keys and pictures through ncurses on a pipe, the
// picture replayed in a real terminal (tmux), and the game itself in tmux.
#include "console/terminal.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>

#include <thread>

#include "console/console.h"
#include "console/cp437.h"
#include "tmux.h"

namespace fs = std::filesystem;
using TerminalGame = GameRun;  // for its folder

TEST_F(TerminalGame, KeysBecomeConsoleBytesAndEveryByteShowsAsItsGlyph) {
    int keyboard[2];
    ASSERT_EQ(pipe(keyboard), 0);
    FILE* input = fdopen(keyboard[0], "r");
    FILE* output = fopen((folder / "sent").c_str(), "w");
    startMemoryConsole();                    // the view is sent only when the test says so
    setenv("QUORVEX_GLYPHS", "unicode", 1);  // whatever the test's locale
    std::string failure;
    ASSERT_TRUE(openTerminalOn(input, output, "xterm-256color", failure)) << failure;
    unsetenv("QUORVEX_GLYPHS");
    auto bytesFor = [&](const std::string& typed) {
        EXPECT_EQ(write(keyboard[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
        terminalSleep(40);  // keys that come while the game sleeps stay queued; a lone Esc is known after 25 ms
        std::vector<int> bytes;
        while (keyPressed()) bytes.push_back(readKey());
        return bytes;
    };
    // What the decoder alone does not show: keypad and function keys, Tab, no flow
    // control (Ctrl+S, Ctrl+Q), a lone Esc once its delay is over.
    const std::pair<std::string, std::vector<int>> cases[] = {
        {"\x1bOA", {0, 72}}, {"\x1b[6~", {0, 81}},   {"\x1bOP", {0, 59}}, {"\x1b[23~", {0, 133}},
        {"\t", {9}},         {"\x13\x11", {19, 17}}, {"\x1b[99~", {}},    {"\x1b", {27}}};
    for (const auto& [typed, bytes] : cases) EXPECT_EQ(bytesFor(typed), bytes) << ::testing::PrintToString(typed);
    EXPECT_THROW(bytesFor("\x03"), ConsoleInterrupt);

    // Each byte has a glyph of its own, never a control character.
    for (int byte = 0; byte < 256; ++byte) {
        moveCursor(1 + byte % 64, 1 + byte / 64);
        writeChar(static_cast<uint8_t>(byte));  // 7, 8, 10 and 13 only move the cursor
        EXPECT_EQ(unicodeToCp437(cp437ToUnicode(static_cast<uint8_t>(byte))), byte == 0 ? ' ' : byte);
    }
    terminalShowView();
    fflush(output);
    fs::copy_file(folder / "sent", folder / "picture");  // without the bytes that restore the terminal
    closeTerminal();
    fclose(input);
    close(keyboard[1]);
    fclose(output);

    TmuxGame replay;
    // The replay's "environment" runs a shell that plays the bytes back in the terminal.
    replay.start(folder, "sh -c 'stty raw -echo; cat picture; exec sleep 60'");
    ASSERT_TRUE(replay.waitFor("☺☻♥"));
    std::string expected;
    for (int row = 1; row <= 4; ++row) {
        std::string glyphs = cp437ToUtf8(bufferRowText(row).substr(0, 64));
        expected += glyphs.erase(glyphs.find_last_not_of(' ') + 1) + "\n";
    }
    EXPECT_EQ(replay.tmux("capture-pane -p -t 0 -E 3"), expected);
}

TEST_F(TerminalGame, EveryEndRestoresTheTerminal) {
    const std::tuple<std::string, int, int> ends[] = {
        {"Escape", 0, 0}, {"C-c", 0, 130}, {"", SIGTERM, 143}, {"", SIGHUP, 129}};
    for (const auto& [key, signal, status] : ends) {
        SCOPED_TRACE(status);
        TmuxGame game;
        game.start(folder);
        ASSERT_TRUE(game.waitFor("The Quorvex")) << game.screen();
        EXPECT_EQ(game.tmux("display -p -t 0 '#{alternate_on} #{cursor_flag}'"), "1 0\n");
        if (signal == 0) game.keys(key);
        if (signal != 0) kill(game.pid(), signal);
        EXPECT_EQ(game.waitExit(), status);
        EXPECT_TRUE(game.lineModeBack());
        EXPECT_EQ(game.screenModes(), "0 1 0\n");
    }
}

// Sound written out or no sound device, C locale, stdio redirected: the same picture, not a word about sound.
TEST_F(TerminalGame, MenuWithAndWithoutSoundInTheCLocale) {
    fs::copy(fs::path(QUORVEX_SOURCE_DIR) / "data/Sound", folder / "Sound");
    std::string screens[2];
    for (int i : {0, 1}) {
        TmuxGame game;
        game.start(folder, std::string("-u LC_ALL -u LC_CTYPE LANG=C SDL_AUDIODRIVER=") +
                               (i == 0 ? "disk SDL_DISKAUDIOFILE=audio.raw" : "nonexistent") +
                               " </dev/null >out 2>errors");
        ASSERT_TRUE(game.waitFor("Quit")) << game.screen();
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // the theme plays
        screens[i] = game.screen();
        game.keys("Escape");
        EXPECT_EQ(game.waitExit(), 0) << i;
        EXPECT_EQ(fileContents(folder / "out") + fileContents(folder / "errors"), "") << i;
        EXPECT_TRUE(game.blank()) << game.screen();
    }
    EXPECT_EQ(screens[1], screens[0]);
    std::string samples = fileContents(folder / "audio.raw");
    EXPECT_GT(samples.size(), 20000u);  // about a second of sound was written out
    EXPECT_NE(samples.find_first_not_of('\0'), std::string::npos) << "the device heard only silence";
}

// A flood of "Esc [" and a resize storm leave the game running and the room
// drawn whole; a terminal that then goes away ends it even under nohup.
TEST_F(TerminalGame, AFloodAndAResizeStormLeaveTheGameRunningAndADeadTerminalEndsItUnderNohup) {
    fs::copy(fs::path(QUORVEX_SOURCE_DIR) / "data/levels", folder / "levels");
    TmuxGame game;
    game.start(folder, "SDL_AUDIODRIVER=nonexistent nohup");
    ASSERT_TRUE(game.waitFor("The Quorvex")) << game.screen();
    game.keys("Enter");  // New Game: room 1
    ASSERT_TRUE(game.waitFor("♥")) << game.screen();
    std::string flood;
    for (int i = 0; i < 150000; ++i) flood += "\x1b[";
    std::ofstream(folder / "flood", std::ios::binary) << flood;
    game.tmux("load-buffer " + shellQuoted((folder / "flood").string()) + " \\; paste-buffer -t 0");
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_EQ(game.waitExit(300), -1);
    std::string before = game.tmux("capture-pane -p -t 0 -S 0 -E 0");
    for (int i = 0; i < 30; ++i)
        game.tmux("resize-window -t 0 -x " + std::to_string(50 + i) + " -y " + std::to_string(10 + i % 16));
    game.tmux("resize-window -t 0 -x 80 -y 25");
    // The last resize's redraw may still be on its way when the hearts show.
    std::string after;
    for (int waited = 0; waited < 5000 && (after = game.tmux("capture-pane -p -t 0 -S 0 -E 0")) != before; waited += 50)
        TmuxGame::nap();
    EXPECT_EQ(after, before);
    EXPECT_TRUE(game.waitFor("♥")) << game.screen();
    EXPECT_EQ(game.waitExit(300), -1);
    pid_t pid = game.pid();
    ASSERT_GT(pid, 0);
    game.tmux("kill-server");
    auto ended = [pid] {
        std::string stat = fileContents("/proc/" + std::to_string(pid) + "/stat");
        return stat.empty() || stat.find(") Z") != std::string::npos;
    };
    for (int waited = 0; waited < 3000 && !ended(); waited += 50) TmuxGame::nap();
    EXPECT_TRUE(ended());
    if (!ended()) kill(pid, SIGKILL);
}

TEST_F(TerminalGame, NoTerminalOrOneThatCannotShowTheGameIsRefusedBeforeAnythingIsDrawn) {
    EXPECT_EQ(commandOutput(std::string("setsid -w ") + QUORVEX_BINARY + " </dev/null 2>&1 >/dev/null; echo $?"),
              "No way to get the console handle\n1\n");
    const std::pair<std::string, std::string> types[] = {{"dumb", "TERM=dumb cannot place the cursor"},
                                                         {"no-such-terminal", "unknown terminal type"}};
    for (const auto& [type, words] : types) {
        TmuxGame game;
        game.start(folder, "TERM=" + type + " 2>errors");
        EXPECT_EQ(game.waitExit(), 1);
        EXPECT_NE(fileContents(folder / "errors").find(words), std::string::npos) << fileContents(folder / "errors");
        EXPECT_TRUE(game.blank()) << game.screen();
    }
}

// The crash handler runs on its own stack: the terminal is put back, the signal kept.
TEST_F(TerminalGame, AStackOverflowStillRestoresTheTerminal) {
    struct sigaction current {};
    sigaction(SIGSEGV, nullptr, &current);
    if (current.sa_handler != SIG_DFL || (current.sa_flags & SA_SIGINFO))
        GTEST_SKIP() << "a sanitizer handles crashes in this build";
    std::string sent = (folder / "sent").string();
    pid_t child = fork();
    if (child == 0) {
        std::string failure;
        if (!openTerminalOn(fopen("/dev/null", "r"), fopen(sent.c_str(), "w"), "xterm-256color", failure)) _exit(3);
        struct Deep {
            static int down(int depth) {
                volatile char frame[1024];
                frame[0] = static_cast<char>(depth);
                return depth < 0 ? 0 : down(depth + 1) + frame[0];
            }
        };
        _exit(Deep::down(1));
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
    std::string bytes = fileContents(sent);
    EXPECT_NE(bytes.rfind("\x1b[?1049l"), std::string::npos);  // the user's screen back
    EXPECT_NE(bytes.rfind("\x1b[?25h"), std::string::npos);    // the cursor shown
}

// What comes out of the master end within `ms`, or until `until` has come.
std::string readFor(int master, int ms, const std::string& until = "") {
    std::string sent;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end && (until.empty() || sent.find(until) == std::string::npos)) {
        pollfd ready{master, POLLIN, 0};
        char chunk[4096];
        if (poll(&ready, 1, 20) <= 0) continue;
        ssize_t got = read(master, chunk, sizeof chunk);
        if (got <= 0) break;
        sent.append(chunk, static_cast<size_t>(got));
    }
    return sent;
}

// The game on the slave end of a pty of `rows` x 80 (and `pixelHeight` x 640
// pixels, 0: not said) in a process group of its own (so that stopping it is
// not ignored): it pauses for `pauseMs` and ends, its exit status the time
// the pause took in tenths of a second.
pid_t pausingGame(int& master, unsigned short rows, int pauseMs, unsigned short pixelHeight = 0) {
    int slave = -1;
    winsize size{rows, 80, static_cast<unsigned short>(pixelHeight ? 640 : 0), pixelHeight};
    if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) return -1;
    pid_t child = fork();
    if (child == 0) {
        setpgid(0, 0);
        close(master);
        std::string failure;
        startMemoryConsole();
        if (!openTerminalOn(fdopen(dup(slave), "r"), fdopen(slave, "w"), "xterm-256color", failure)) _exit(3);
        auto start = std::chrono::steady_clock::now();
        terminalSleep(pauseMs);
        auto took = std::chrono::steady_clock::now() - start;
        closeTerminal();
        _exit(std::chrono::duration_cast<std::chrono::milliseconds>(took).count() / 100);
    }
    close(slave);
    return child;
}

// The terminal (or the player) gives the window a size.
void resizeWindow(int master, pid_t game, unsigned short rows, unsigned short pixelHeight = 0) {
    winsize size{rows, 80, static_cast<unsigned short>(pixelHeight ? 640 : 0), pixelHeight};
    ioctl(master, TIOCSWINSZ, &size);
    kill(game, SIGWINCH);
}

bool stopped(pid_t game) {
    int status = 0;
    return waitpid(game, &status, WUNTRACED) == game && WIFSTOPPED(status);
}

// A pause in a window of 13 rows: a grow request first; the pause waits behind
// the notice until the player makes the window larger, gives line mode back
// while stopped and does not count the time stopped. The window is the
// player's from then on: no size is asked for or put back again.
TEST(TerminalPty, APauseStandsStillBehindTheNoticeAndWhileStopped) {
    int master = -1;
    pid_t child = pausingGame(master, 13, 800);
    ASSERT_GT(child, 0);
    EXPECT_EQ(readFor(master, 5000, "60 x 14 (now 80 x 13)").find("\x1b[8;25;80t"), 0u);
    readFor(master, 1000);  // behind the notice
    resizeWindow(master, child, 14);
    readFor(master, 200);
    kill(child, SIGTSTP);
    ASSERT_TRUE(stopped(child));
    termios modes{};
    ASSERT_EQ(tcgetattr(master, &modes), 0);
    EXPECT_TRUE((modes.c_lflag & ICANON) && (modes.c_lflag & ECHO));
    std::string sent = readFor(master, 1500);
    kill(child, SIGCONT);
    readFor(master, 150);
    ASSERT_EQ(tcgetattr(master, &modes), 0);
    EXPECT_FALSE(modes.c_lflag & ICANON);  // taken again
    sent += readFor(master, 3000);
    EXPECT_EQ(sent.find("\x1b[8;"), std::string::npos) << "a size asked for after the player's own";
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    // 800 ms of pause, 200 of them before the stop; 1 s behind the notice and 1.5 s stopped on top.
    EXPECT_GE(WEXITSTATUS(status), 33);
    close(master);
}

// A terminal that grants the request: the size found comes back at a stop and
// at the end, the grown one at a continue; once the player has resized the
// window, neither ever again.
TEST(TerminalPty, TheSizeFoundComesBackOnlyWhileTheWindowHasTheSizeAskedFor) {
    for (bool playerResizes : {false, true}) {
        SCOPED_TRACE(playerResizes);
        int master = -1;
        pid_t child = pausingGame(master, 24, 2500);
        ASSERT_GT(child, 0);
        EXPECT_NE(readFor(master, 3000, "\x1b[8;25;80t").find("\x1b[8;25;80t"), std::string::npos);
        resizeWindow(master, child, 25);  // granted
        readFor(master, 200);
        if (playerResizes) resizeWindow(master, child, 35), readFor(master, 200);
        kill(child, SIGTSTP);
        ASSERT_TRUE(stopped(child));
        std::string atStop = readFor(master, 300);
        EXPECT_EQ(atStop.find("\x1b[8;24;80t") != std::string::npos, !playerResizes)
            << ::testing::PrintToString(atStop);
        if (!playerResizes) resizeWindow(master, child, 24);  // granted while stopped
        kill(child, SIGCONT);
        std::string atContinue = readFor(master, 500);
        EXPECT_EQ(atContinue.find("\x1b[8;25;80t") != std::string::npos, !playerResizes);
        if (!playerResizes) resizeWindow(master, child, 25);
        std::string rest = readFor(master, 4000);
        EXPECT_EQ(rest.find("\x1b[8;24;80t") != std::string::npos, !playerResizes) << "at the end";
        EXPECT_EQ(rest.find("\x1b[8;25;80t"), std::string::npos) << "asked twice";
        waitpid(child, nullptr, 0);
        close(master);
    }
}

// The game's menu on a pty, in a UTF-8 locale, where the start-up asks the
// terminal where its cursor is: the answer arrives late and in pieces (its
// ESC at 600 ms, the rest at 700 ms, as over a slow link) and is no key; an
// Esc the player types afterwards still ends the game from the menu.
TEST_F(TerminalGame, AnAnswerThatArrivesLateAndInPiecesIsNoKey) {
    int master = -1;
    winsize size{25, 80, 0, 0};
    pid_t child = forkpty(&master, nullptr, nullptr, &size);
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("LC_ALL", "C.UTF-8", 1);
        setenv("TERM", "xterm-256color", 1);
        unsetenv("TMUX"), unsetenv("STY");
        execl(QUORVEX_BINARY, QUORVEX_BINARY, nullptr);
        _exit(127);
    }
    std::string asked = readFor(master, 3000, "\x1b[6n");
    auto askedAt = std::chrono::steady_clock::now();
    ASSERT_NE(asked.find("\x1b[6n"), std::string::npos);
    std::this_thread::sleep_until(askedAt + std::chrono::milliseconds(600));
    ASSERT_EQ(write(master, "\x1b", 1), 1);
    std::this_thread::sleep_until(askedAt + std::chrono::milliseconds(700));
    ASSERT_EQ(write(master, "[1;4R", 5), 5);
    std::string menu = readFor(master, 500);
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, WNOHANG), 0) << "the answer ended the game";
    ASSERT_EQ(write(master, "\x1b", 1), 1);
    readFor(master, 1000);
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    close(master);
}

// konsole grows its grid as asked but not its window: the pty says 25 rows
// in the 408 pixels of 24, and the top row is hidden. That window is asked
// for its old size back at once and played as it was, and never asked again;
// one that grows in pixels too keeps its 25 rows. konsole, known by its own
// word, is not asked at all.
TEST(TerminalPty, AWindowThatDidNotGrowIsAskedForItsOldSizeBack) {
    for (bool grows : {false, true}) {
        SCOPED_TRACE(grows);
        int master = -1;
        pid_t child = pausingGame(master, 24, 1500, 408);
        ASSERT_GT(child, 0);
        EXPECT_NE(readFor(master, 3000, "\x1b[8;25;80t").find("\x1b[8;25;80t"), std::string::npos);
        resizeWindow(master, child, 25, grows ? 425 : 408);
        std::string answer = readFor(master, 400);
        EXPECT_EQ(answer.find("\x1b[8;24;80t") != std::string::npos, !grows) << ::testing::PrintToString(answer);
        if (!grows) resizeWindow(master, child, 24, 408);  // taken
        std::string rest = readFor(master, 3000);
        EXPECT_EQ(rest.find("\x1b[8;") != std::string::npos, grows) << "asked again";  // grown: 24 back at the end
        waitpid(child, nullptr, 0);
        close(master);
    }
    setenv("KONSOLE_VERSION", "221203", 1);
    int master = -1;
    pid_t child = pausingGame(master, 24, 300, 408);
    unsetenv("KONSOLE_VERSION");
    ASSERT_GT(child, 0);
    EXPECT_EQ(readFor(master, 2000).find("\x1b[8;"), std::string::npos);
    waitpid(child, nullptr, 0);
    close(master);
}
