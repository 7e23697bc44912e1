// platform/main.cpp: the tumblewick command: picks the front end and hands it the options.
#include <filesystem>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/headless/headless_main.h"
#include "platform/headless/key_script.h"
#if TW_HAVE_LINUX
#include <fcntl.h>

#include <cerrno>

#include "platform/linux/instance_lock.h"
#include "platform/terminal/terminal_main.h"
#endif
#if TW_HAVE_WINDOWS
#include "platform/windows/win_main.h"
#include "platform/windows/win_platform.h"
#endif

namespace {

std::string executableFolder(const char* argv0) {
#if TW_HAVE_WINDOWS
    (void)argv0;
    return tw::windowsProgramFolder();
#else
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) self = std::filesystem::absolute(argv0, ec);
    return self.parent_path().string();
#endif
}

}  // namespace

int main(int argc, char** argv) {
#if TW_HAVE_LINUX
    // Standard input, output and error closed at start would be taken by the game's own files
    // and pipes: a closed input would then never end. They are held by /dev/null instead, so a
    // closed input is the end of input.
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd)
            return 1;
#endif
#if TW_HAVE_WINDOWS
    tw::useParentConsole();
#endif
    CLI::App app{"Tumblewick: an audio game of word association and memory."};
    bool headless = false;
    bool jaws = false;
    bool noVoice = false;
    bool noEcho = false;
    std::uint64_t seed = 0;
    std::string home;
    std::string speechWav;
    app.add_flag("--headless", headless,
                 "Run without a terminal: commands on standard input, events on standard output");
    auto* seedOption = app.add_option("--seed", seed, "Seed the random generator instead of the time of day");
    app.add_option("--home", home,
                   "The game's folder (words.txt, sounds, progress.ini, saved games); when it cannot be written, "
                   "the game writes into the player folder instead");
    app.add_flag("--jaws", jaws, "Headless: the screen-reader object can be created");
    app.add_flag("--no-voice", noVoice, "Headless: the game's own voice cannot be made");
    app.add_option("--speech-wav", speechWav, "Write the voice's speech to this WAV file instead of a sound device");
    app.add_flag("--no-echo", noEcho, "Do not print what the voice or the screen reader speaks");
    std::string script;
    bool update = false;
    app.add_option("--script", script,
                   "Headless: play this key script in a folder of its own under the current folder, and tell "
                   "every line heard or file left that differs from the script's; the status is 1 if any does");
    app.add_flag("--update", update, "With --script: write what was heard into the script instead");
    bool adapter = false;
    app.add_flag("--adapter", adapter,
                 "With --script: play it through a front end's adapter, which answers requests on standard input "
                 "that the game writes to standard output");
    CLI11_PARSE(app, argc, argv);

    if (home.empty()) home = tw::programFolderFor("", executableFolder(argv[0]));
#if TW_HAVE_WINDOWS
    // Through UTF-16: the standard library would read a narrow path in another code page.
    home = tw::windowsFullPath(home);
#else
    std::error_code ec;
    home = std::filesystem::absolute(home, ec).lexically_normal().string();
    if (home.size() > 1 && home.back() == '/') home.pop_back();
#endif

    // An installed copy writes into the player's own folder, which is then the current folder
    // too, so the start-up log and the version file land there as well.
    tw::GameFolders folders;
    tw::Outcome placed = tw::resolveFolders(home, tw::files::userDataFolder(), folders);
    if (placed.ok && folders.installed) {
        placed = tw::files::enterFolder(folders.player);
        if (!placed.ok)
            placed.why = "The folder for your games, " + folders.player + ", cannot be entered: " + placed.why;
    }
    if (!placed.ok) {
#if TW_HAVE_WINDOWS
        if (!headless) tw::showStartFailure(placed.why);
#endif
        std::cerr << "tumblewick: " << placed.why << '\n';
        return 1;
    }
    const std::string player = folders.installed ? folders.player : "";

    if (headless) {
        tw::HeadlessOptions options;
        if (*seedOption) options.seed = seed;
        options.home = home;
        options.player = player;
        options.jaws = jaws;
        options.voice = !noVoice;
#if TW_HAVE_LINUX
        options.instanceCheck = [](const std::string& folder) { return tw::anotherInstanceRunning(folder); };
#endif
#if TW_HAVE_WINDOWS
        options.instanceCheck = [](const std::string& folder) { return tw::windowsInstanceRunning(folder); };
        tw::binaryStdout();
#endif
        if (!script.empty()) {
#if !TW_HAVE_WINDOWS
            script = std::filesystem::absolute(script, ec).string();
#endif
            // The folder is named after the script, so that scripts may play side by side, and is
            // not ASCII, as a player's may not be.
            std::string name = script.substr(script.find_last_of("/\\") + 1);
            name = name.substr(0, name.rfind('.'));
            return tw::playKeyScript(script, "tw-script-" + name + "/Zo\u00EB win", options, update, std::cerr,
                                     adapter ? &std::cin : nullptr, adapter ? &std::cout : nullptr);
        }
        return tw::runHeadless(options, std::cin, std::cout, std::cerr);
    }
#if TW_HAVE_WINDOWS
    tw::WindowsOptions options;
    if (*seedOption) options.seed = seed;
    options.home = home;
    options.player = player;
    (void)jaws;
    (void)noEcho;
    return tw::runWindows(options);
#elif TW_HAVE_LINUX
    tw::TerminalOptions options;
    if (*seedOption) options.seed = seed;
    options.home = home;
    options.player = player;
    options.speechWav = speechWav;
    options.echo = !noEcho;
    return tw::runTerminal(options);
#else
    std::cerr << "This build has only the headless front end: use --headless.\n";
    return 2;
#endif
}
