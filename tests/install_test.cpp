// make install into a scratch prefix, then the installed command run as a
// player would, from a folder and a home of their own.
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>

#include "game/runfile.h"
#include "tmux.h"

namespace {

namespace fs = std::filesystem;

using Entry = std::tuple<fs::file_type, uintmax_t, fs::file_time_type, std::string>;  // type, size, time, link
using Snapshot = std::map<std::string, Entry>;                                        // relative path -> entry

Snapshot snapshot(const fs::path& root) {
    Snapshot entries;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
        fs::file_status status = e.symlink_status();
        bool regular = status.type() == fs::file_type::regular;
        // A folder's own time changes with its contents; its entries tell that.
        entries[e.path().lexically_relative(root).string()] = {
            status.type(), regular ? e.file_size() : 0, regular ? e.last_write_time() : fs::file_time_type{},
            e.is_symlink() ? fs::read_symlink(e.path()).string() : ""};
    }
    return entries;
}

struct Launch {
    int status;
    std::string out, err;
};

class Installed : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quorvex-install-XXXXXX").string();
        root = mkdtemp(pattern.data());
        prefix = root / "prefix";
        data = prefix / "share/games/quorvex";
        fs::create_directories(home = root / "home");
        fs::create_directories(start = root / "start");
        std::string install = shellQuoted(QUORVEX_CMAKE) + " --install " + shellQuoted(QUORVEX_BUILD_DIR) +
                              " --prefix " + shellQuoted(prefix.string()) + " >" +
                              shellQuoted((root / "log").string()) + " 2>&1";
        ASSERT_EQ(std::system(("env -u DESTDIR " + install).c_str()), 0) << fileContents(root / "log");
    }
    void TearDown() override {
        for (const fs::directory_entry& e : fs::recursive_directory_iterator(root))  // folders a test locked
            if (e.is_directory() && !e.is_symlink())
                fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(root);
    }

    // The command from the start folder with no terminal (setsid): the game ends at once.
    // environment: all of it besides PATH; none given, HOME is the test's home.
    std::string command(const std::string& environment = "") {
        std::string env = environment.empty() ? "HOME=" + shellQuoted(home.string()) : environment;
        return "cd " + shellQuoted(start.string()) + " && env -i PATH=/usr/bin:/bin " + env + " setsid -w " +
               shellQuoted((prefix / "games/quorvex").string()) + " </dev/null";
    }
    Launch launch(const std::string& arguments = "", const std::string& environment = "") {
        std::string out = shellQuoted((root / "out").string()), err = shellQuoted((root / "err").string());
        int status = std::system((command(environment) + " " + arguments + " >" + out + " 2>" + err).c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, fileContents(root / "out"), fileContents(root / "err")};
    }

    fs::path folder() { return home / ".local/share/quorvex"; }

    fs::path root, prefix, data, home, start;
};

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

// The installed files, then a game folder made of links to the installed data.
TEST_F(Installed, CommandsDataPagesDesktopEntryAndAGameFolderRenewingOnlyItsOwnLinks) {
    std::set<std::string> commands = namesIn(prefix / "games");
    EXPECT_TRUE(commands.count("quorvex"));
    for (const std::string& command : commands) {
        EXPECT_EQ(access((prefix / "games" / command).c_str(), X_OK), 0) << command;
        EXPECT_TRUE(fs::exists(prefix / "share/man/man6" / (command + ".6.gz"))) << command;
    }
    std::string desktop = fileContents(prefix / "share/applications/quorvex.desktop");
    for (std::string line : {"Terminal=true", "Icon=quorvex", "Categories=Game;"})
        EXPECT_NE(desktop.find(line), std::string::npos) << line;
    EXPECT_NE(desktop.find("Exec=" + (prefix / "games/quorvex").string() + "\n"), std::string::npos) << desktop;
    for (const char* file : {"share/icons/hicolor/scalable/apps/quorvex.svg", "share/doc/quorvex/copyright",
                             "share/games/quorvex/levels/custom levels/sampler/towers/spring tower.lvl"})
        EXPECT_TRUE(fs::exists(prefix / file)) << file;
    EXPECT_EQ(namesIn(data / "Sound"), namesIn(QUORVEX_SOURCE_DIR "/data/Sound"));
    EXPECT_EQ(namesIn(data / "levels/custom levels"), std::set<std::string>{"sampler"});

    Launch run = launch();
    EXPECT_EQ(run.status, 1);  // the script started the game itself, which found no terminal
    EXPECT_EQ(run.err, "No way to get the console handle\n");
    for (int n = 1; n <= 22; ++n) {
        std::string room = "levels/" + std::to_string(n) + ".lvl";
        EXPECT_EQ(fileContents(data / room), fileContents(QUORVEX_SOURCE_DIR "/data/" + room)) << room;
        EXPECT_EQ(fs::read_symlink(folder() / room), data / room);
    }
    EXPECT_EQ(fs::read_symlink(folder() / "Sound"), data / "Sound");
    EXPECT_EQ(fs::read_symlink(folder() / "levels/custom levels/sampler"), data / "levels/custom levels/sampler");

    // A moved installation, an upgrade dropping a room, the player's own rooms, packs, links, save.
    fs::path old = "/opt/old/share/games/quorvex";
    fs::path rooms = folder() / "levels", packs = rooms / "custom levels";
    fs::remove(rooms / "1.lvl");
    fs::create_symlink(old / "levels/1.lvl", rooms / "1.lvl");
    fs::create_symlink(old / "levels/23.lvl", rooms / "23.lvl");
    fs::create_symlink(old / "levels/custom levels/gone", packs / "gone");
    fs::remove(rooms / "2.lvl");
    std::ofstream(rooms / "2.lvl") << "mine";
    fs::create_directories(packs / "mine");
    fs::create_symlink("/srv/packs/shared", packs / "shared");
    std::ofstream(folder() / "save.sav") << "18\r\n-15\r\n7\r\n";
    fs::remove(data / "levels/22.lvl");
    std::ofstream(data / "levels/24.lvl") << "new";

    EXPECT_EQ(launch().status, 1);
    EXPECT_EQ(fs::read_symlink(rooms / "1.lvl"), data / "levels/1.lvl");
    EXPECT_FALSE(fs::is_symlink(rooms / "23.lvl") || fs::is_symlink(rooms / "22.lvl"));
    EXPECT_EQ(fs::read_symlink(rooms / "24.lvl"), data / "levels/24.lvl");
    EXPECT_EQ(fileContents(rooms / "2.lvl"), "mine");
    EXPECT_EQ(namesIn(packs), (std::set<std::string>{"mine", "sampler", "shared"}));
    EXPECT_EQ(fs::read_symlink(packs / "shared"), "/srv/packs/shared");
    EXPECT_EQ(fileContents(folder() / "save.sav"), "18\r\n-15\r\n7\r\n");

    // XDG_DATA_HOME is honoured when it is an absolute path, and only then.
    std::string homeIs = "HOME=" + shellQuoted(home.string()), elsewhere = (root / "data home").string();
    EXPECT_EQ(launch("", homeIs + " XDG_DATA_HOME=" + shellQuoted(elsewhere)).status, 1);
    EXPECT_TRUE(fs::is_symlink(elsewhere + "/quorvex/levels/1.lvl"));
    fs::remove_all(folder());
    EXPECT_EQ(launch("", homeIs + " XDG_DATA_HOME=relative").status, 1);
    EXPECT_TRUE(fs::is_symlink(folder() / "levels/1.lvl"));
    EXPECT_TRUE(fs::is_empty(start));
}

TEST_F(Installed, RefusedArgumentsAndAFolderThatCannotBeMadeAreReportedInOneLine) {
    const std::tuple<std::string, int, std::string, std::string> calls[] = {
        {"--help", 0, folder().string() + "\n", ""},
        {"--version", 0, "quorvex " QUORVEX_VERSION "\n", ""},
        {"--bogus", 2, "", "quorvex: unknown argument: --bogus\nUsage: quorvex [--times]\n"},
        {"--help --version", 2, "", "quorvex: too many arguments\n"},
    };
    for (const auto& [arguments, status, out, err] : calls) {
        SCOPED_TRACE(arguments);
        Launch run = launch(arguments);
        EXPECT_EQ(run.status, status);
        EXPECT_NE(run.out.find(out), std::string::npos) << run.out;
        EXPECT_EQ(run.err.rfind(err, 0), 0u) << run.err;
    }
    for (const char* arguments : {"--help", "--version"}) {  // a full device is no success
        std::string err = shellQuoted((root / "err").string());
        int status = std::system((command() + " " + arguments + " >/dev/full 2>" + err).c_str());
        EXPECT_EQ(WEXITSTATUS(status), 2) << arguments;
        EXPECT_EQ(fileContents(root / "err").rfind("quorvex: cannot write standard output: ", 0), 0u)
            << fileContents(root / "err");
    }
    EXPECT_TRUE(fs::is_empty(home));  // help, version and refusals make no folder

    auto cannot = [](const std::string& what, const fs::path& where, const std::string& why) {
        return "quorvex: cannot " + what + " the game folder " + where.string() + ": " + why + "\n";
    };
    std::ofstream(root / "file") << "";
    fs::create_directories(home / ".local/share");
    std::ofstream(folder()) << "";
    std::vector<std::pair<std::string, std::string>> cases = {
        {"HOME=" + (root / "file").string(), cannot("make", root / "file/.local/share/quorvex", "Not a directory")},
        {"HOME=" + home.string(), cannot("make", folder(), "a file of that name is in the way")},
        // Unset and empty alike; a relative HOME would make the folder wherever the game starts.
        {"XDG_DATA_HOME=", "quorvex: cannot find your game folder: neither XDG_DATA_HOME nor HOME is set\n"},
        {"HOME=rel", "quorvex: cannot find your game folder: HOME (rel) is not an absolute path\n"},
    };
    if (geteuid() != 0) {  // permissions do not stop root
        fs::path locked = root / "locked", made = root / "made";
        fs::create_directories(locked);
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
        cases.push_back(
            {"HOME=" + locked.string(), cannot("make", locked / ".local/share/quorvex", "Permission denied")});
        fs::create_directories(made / ".local/share/quorvex/levels/custom levels");
        fs::permissions(made / ".local/share/quorvex/levels", fs::perms::owner_read | fs::perms::owner_exec);
        cases.push_back(
            {"HOME=" + made.string(), cannot("write in", made / ".local/share/quorvex", "Permission denied")});
    }
    // In a shared place, a game or levels folder that is a link or someone else's is never used.
    fs::path shared = root / "shared", victim = root / "victim", foreign = root / "foreign";
    fs::create_directories(shared / "quorvex");
    fs::create_directories(victim);
    fs::create_symlink(victim, shared / "quorvex/levels");
    const std::string notOwn = "it is not a folder of your own";
    cases.push_back({"XDG_DATA_HOME=" + shared.string(), cannot("use", shared / "quorvex/levels", notOwn)});
    fs::create_directories(foreign / "quorvex");
    if (chown((foreign / "quorvex").c_str(), geteuid() + 1, getegid()) == 0)
        cases.push_back({"XDG_DATA_HOME=" + foreign.string(), cannot("use", foreign / "quorvex", notOwn)});
    for (const auto& [environment, err] : cases) {
        SCOPED_TRACE(environment);
        Launch run = launch("", environment);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, err);
    }
    EXPECT_TRUE(fs::is_empty(victim));
    EXPECT_TRUE(fs::is_empty(start));
}

// What the launcher prints never holds a byte the terminal would act on;
// the folders it makes are 700 whatever the umask, and a world-writable
// game folder that it did not make, where anyone could plant links, is refused.
TEST_F(Installed, TheLauncherEscapesWhatItPrintsAndMakesItsFoldersPrivate) {
    Launch run = launch("", "HOME=" + shellQuoted("rel\x1b]0;T\x07\xc2\x9b"));
    EXPECT_EQ(run.err,
              "quorvex: cannot find your game folder: HOME (rel\\x1B]0;T\\x07\\xC2\\x9B) is not an absolute path\n");
    run = launch("--help", "HOME=" + shellQuoted("rel\x1b[2J"));
    EXPECT_NE(run.out.find("(none: HOME (rel\\x1B[2J) is not an absolute path)"), std::string::npos) << run.out;

    std::string log = shellQuoted((root / "log").string());
    ASSERT_EQ(std::system(("umask 000 && " + command() + " >" + log + " 2>&1").c_str()) != -1, true);
    for (const fs::path& made :
         {home / ".local", home / ".local/share", folder(), folder() / "levels", folder() / "levels/custom levels"}) {
        struct stat info {};
        ASSERT_EQ(stat(made.c_str(), &info), 0) << made;
        EXPECT_EQ(info.st_mode & 0777, 0700u) << made;
    }
    fs::path shared = root / "open";
    fs::create_directories(shared / "quorvex");
    fs::permissions(shared / "quorvex", fs::perms::all);
    run = launch("", "XDG_DATA_HOME=" + shellQuoted(shared.string()));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "quorvex: cannot use the game folder " + (shared / "quorvex").string() +
                           ": anyone may write in it (chmod o-w on it makes it yours alone)\n");
    EXPECT_TRUE(fs::is_empty(shared / "quorvex"));
}

// Starts at once into a fresh folder race for the same links: none may land in the installed tree.
TEST_F(Installed, StartsAtOnceMakeNoLinkInsideTheInstalledData) {
    Snapshot installed = snapshot(data);
    for (int round = 0; round < 15; ++round) {
        fs::remove_all(home);
        fs::create_directories(home);
        std::string one = "(" + command() + " >/dev/null 2>&1)";
        ASSERT_EQ(std::system((one + " & " + one + " & " + one + " & wait").c_str()), 0);
        ASSERT_EQ(fs::read_symlink(folder() / "Sound"), data / "Sound");
    }
    EXPECT_EQ(snapshot(data), installed);
    EXPECT_EQ(namesIn(folder() / "levels/custom levels"), std::set<std::string>{"sampler"});
}

// The installed command in a real terminal from the player's folder: New Game, quit with Y, leave;
// then uninstalled.
TEST_F(Installed, NewGameAndQuitSaveInThePlayersFolderOnlyAndUninstallKeepsIt) {
    fs::path scratch = fs::temp_directory_path() / fs::path(root.filename().string() + "-tmux");
    fs::create_directories(scratch);
    Snapshot before = snapshot(root);
    {
        TmuxGame game;
        game.command = shellQuoted((prefix / "games/quorvex").string());
        game.start(scratch, "-C " + shellQuoted(start.string()) +
                                " -u XDG_DATA_HOME -u XDG_STATE_HOME HOME=" + shellQuoted(home.string()));
        ASSERT_TRUE(game.waitFor("New Game")) << game.screen();
        game.keys("Enter");
        ASSERT_TRUE(game.waitFor("Level: 1")) << game.screen();
        game.keys("Enter");
        ASSERT_TRUE(game.waitFor("QUIT? Y/N")) << game.screen();
        game.keys("y");
        ASSERT_TRUE(game.waitFor("Continue")) << game.screen();
        game.keys("Escape");
        EXPECT_EQ(game.waitExit(), 0);
    }
    fs::remove_all(scratch);
    EXPECT_EQ(fileContents(folder() / "save.sav"), "18\r\n-15\r\n0\r\n");

    // The room's run kept in the player's state folder.
    RecordedRun kept;
    fs::path runs = home / ".local/state/quorvex/runs";
    ASSERT_TRUE(fs::is_directory(runs));
    EXPECT_EQ(readRunFile(fs::directory_iterator(runs)->path().string(), kept), "");
    EXPECT_EQ(kept.rooms.size(), 1u);
    EXPECT_EQ(fs::status(home / ".local/state").permissions() & fs::perms::all, fs::perms::owner_all);

    // New entries only in the game folder and the state folder (the sound plays on SDL's dummy driver).
    auto allowed = [](const std::string& path) {  // in them or on the way to them
        for (const std::string folder : {"home/.local/share/quorvex", "home/.local/state/quorvex"})
            if (path.rfind(folder, 0) == 0 || folder.rfind(path + "/", 0) == 0) return true;
        return false;
    };
    Snapshot after = snapshot(root);
    for (const auto& [path, entry] : before) EXPECT_TRUE(after.count(path) && after[path] == entry) << path;
    for (const auto& [path, entry] : after) EXPECT_TRUE(before.count(path) || allowed(path)) << path;
    EXPECT_TRUE(fs::is_empty(start));

    // Uninstalling takes the files and its own folders only.
    Snapshot players = snapshot(home);               // a player's folder, which uninstalling leaves alone
    fs::create_directories(prefix / "games/other");  // another game's, in the shared folder
    std::ofstream(data / "levels/custom levels/site pack.txt") << "";  // put there by hand
    std::string uninstall = shellQuoted(QUORVEX_CMAKE) + " -DBUILD_DIR=" + shellQuoted(QUORVEX_BUILD_DIR) +
                            " -DPREFIX=" + shellQuoted(prefix.string() + "/") + " -P " +
                            shellQuoted(QUORVEX_SOURCE_DIR "/cmake/Uninstall.cmake") + " >/dev/null";
    ASSERT_EQ(std::system(uninstall.c_str()), 0);

    std::set<std::string> left;
    for (const auto& [path, entry] : snapshot(prefix)) left.insert(path);
    EXPECT_EQ(left, (std::set<std::string>{"games", "games/other", "share", "share/games", "share/games/quorvex",
                                           "share/games/quorvex/levels", "share/games/quorvex/levels/custom levels",
                                           "share/games/quorvex/levels/custom levels/site pack.txt", "share/doc",
                                           "share/man", "share/man/man6", "share/applications", "share/icons",
                                           "share/icons/hicolor", "share/icons/hicolor/scalable",
                                           "share/icons/hicolor/scalable/apps", "lib", "lib/games"}));
    EXPECT_EQ(snapshot(home), players);
}

}  // namespace
