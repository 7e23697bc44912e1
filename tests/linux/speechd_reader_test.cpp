// tests/linux/speechd_reader_test.cpp: the speech-dispatcher client against a recording SSIP server, a real daemon and no daemon.
#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <mutex>

#include "platform/linux/speechd_reader.h"
#include "tests/linux/test_support.h"

// libspeechd 0.11 leaks a short g_strdup from every spd_open2 that fails to connect. It is not
// ours to fix; LeakSanitizer, when built in, reads this list. Glib has no frame pointers, so the
// quick unwinder often stops inside it, and only libspeechd brings glib into these tests.
extern "C" const char* __lsan_default_suppressions() { return "leak:libspeechd.so\nleak:libglib-2.0.so\n"; }

namespace {

using namespace std::chrono_literals;
using tw::SpeechdReader;
using tw_test::ScopedEnv;
using tw_test::TempDir;

// Speaks enough SSIP for libspeechd and records each line it gets: commands upper-cased, the
// lines of a SPEAK block as "TEXT <line>".
class FakeSsipServer {
public:
    enum class Mode {
        Answer,         // a well-behaved daemon
        SlowSpeak,      // takes 200 ms before accepting each message
        CloseAfterHello,// goes away once the client has named itself
        CloseOnSpeak,   // goes away in the middle of a message
        CloseOnAnswer,  // answers the priority, then goes before the message is written
        HangAfterHello, // stops answering once the client has named itself
        Mute,           // never answers at all
    };

    FakeSsipServer(const std::string& socketPath, Mode mode) : path_(socketPath), mode_(mode) {
        listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 4) != 0)
            std::abort();
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeSsipServer() {
        stop_ = true;
        thread_.join();
        if (client_ >= 0) close(client_);
        close(listener_);
    }

    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    std::vector<std::string> texts() {
        std::vector<std::string> found;
        for (const auto& line : lines())
            if (line.rfind("TEXT ", 0) == 0) found.push_back(line.substr(5));
        return found;
    }
    bool connected() const { return accepted_.load(); }

private:
    void record(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(line);
    }
    void reply(const char* text) {
        if (client_ < 0) return;
        [[maybe_unused]] const ssize_t sent = send(client_, text, std::strlen(text), MSG_NOSIGNAL);
    }
    void hangUp() {
        shutdown(client_, SHUT_RDWR);
        close(client_);
        client_ = -1;
    }

    void serve() {
        std::string pending;
        bool inText = false;
        bool silent = false;
        while (!stop_) {
            pollfd watch{client_ >= 0 ? client_ : listener_, POLLIN, 0};
            if (poll(&watch, 1, 20) <= 0) continue;
            if (client_ < 0) {
                if (accepted_) continue;
                client_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                accepted_ = client_ >= 0;
                continue;
            }
            if (silent) {
                std::this_thread::sleep_for(20ms);  // holds the connection without reading or answering
                continue;
            }
            char buffer[1024];
            const ssize_t got = recv(client_, buffer, sizeof buffer, 0);
            if (got <= 0) {
                hangUp();
                continue;
            }
            pending.append(buffer, std::size_t(got));
            std::size_t end;
            while (client_ >= 0 && (end = pending.find("\r\n")) != std::string::npos) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 2);
                if (inText) {
                    if (line == ".") {
                        record(".");
                        inText = false;
                        reply("225-1\r\n225 OK MESSAGE QUEUED\r\n");
                    } else {
                        record("TEXT " + line);
                    }
                    continue;
                }
                std::string command = line;
                for (char& c : command) c = char(std::toupper(static_cast<unsigned char>(c)));
                record(command);
                if (mode_ == Mode::Mute) {
                    silent = true;
                    break;
                }
                if (command == "SPEAK") {
                    if (mode_ == Mode::CloseOnSpeak) {
                        hangUp();
                        break;
                    }
                    if (mode_ == Mode::SlowSpeak) std::this_thread::sleep_for(200ms);
                    inText = true;
                    reply("230 OK RECEIVING DATA\r\n");
                } else if (command.rfind("CANCEL", 0) == 0) {
                    reply("210 OK CANCELED\r\n");
                } else if (command == "QUIT") {
                    reply("231 HAPPY HACKING\r\n");
                } else {
                    reply("200 OK\r\n");
                }
                if (mode_ == Mode::CloseOnAnswer && command.rfind("SET SELF PRIORITY", 0) == 0) {
                    // The client writes next: to a closed unix socket, which raises SIGPIPE.
                    hangUp();
                    break;
                }
                if (command.rfind("SET SELF CLIENT_NAME", 0) == 0) {
                    if (mode_ == Mode::CloseAfterHello) {
                        hangUp();
                        break;
                    }
                    if (mode_ == Mode::HangAfterHello) {
                        silent = true;
                        break;
                    }
                }
            }
        }
    }

    std::string path_;
    Mode mode_;
    int listener_ = -1;
    int client_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<bool> accepted_{false};
    std::mutex mutex_;
    std::vector<std::string> lines_;
    std::thread thread_;
};

std::string address(const std::string& socketPath) { return "unix_socket:" + socketPath; }

std::vector<std::string> withoutHello(std::vector<std::string> lines) {
    if (!lines.empty() && lines.front().rfind("SET SELF CLIENT_NAME", 0) == 0) lines.erase(lines.begin());
    return lines;
}

TEST(SpeechdReader, NoDaemonThrowsWithTheReasonAtOnce) {
    TempDir dir;
    ScopedEnv env("SPEECHD_ADDRESS", address(dir / "nowhere/speechd.sock"));
    const auto start = std::chrono::steady_clock::now();
    try {
        SpeechdReader reader;
        FAIL() << "connected to nothing";
    } catch (const tw::PlatformError& error) {
        EXPECT_STRNE(error.what(), "");
        std::printf("[ measured ] reason: %s\n", error.what());
    }
    EXPECT_LT(tw_test::elapsedMicros(start), 2e6);
}

TEST(SpeechdReader, NamesItselfQueuesAsMessagesAndCancelsOnFlush) {
    TempDir dir;
    FakeSsipServer server(dir / "s.sock", FakeSsipServer::Mode::Answer);
    ScopedEnv env("SPEECHD_ADDRESS", address(dir / "s.sock"));
    SpeechdReader reader;
    reader.SayString("one", false);
    ASSERT_TRUE(reader.waitUntilSent(5s));
    reader.SayString("two", false);
    ASSERT_TRUE(reader.waitUntilSent(5s));
    reader.SayString("three", true);
    ASSERT_TRUE(reader.waitUntilSent(5s));
    reader.SayString("", true);
    ASSERT_TRUE(reader.waitUntilSent(5s));
    reader.SayString("", false);
    reader.SayString("four\r\n.\nfive", false);
    ASSERT_TRUE(reader.waitUntilSent(5s));
    EXPECT_TRUE(reader.connected());

    const auto lines = server.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().rfind("SET SELF CLIENT_NAME", 0), 0u) << lines.front();
    EXPECT_NE(lines.front().find(":TUMBLEWICK:MAIN"), std::string::npos) << lines.front();
    const std::vector<std::string> expected = {
        "SET SELF PRIORITY MESSAGE", "SPEAK", "TEXT one", ".",
        "SET SELF PRIORITY MESSAGE", "SPEAK", "TEXT two", ".",
        "CANCEL SELF", "SET SELF PRIORITY MESSAGE", "SPEAK", "TEXT three", ".",
        "CANCEL SELF",
        "SET SELF PRIORITY MESSAGE", "SPEAK", "TEXT four  . five", ".",
    };
    EXPECT_EQ(withoutHello(lines), expected);
}

TEST(SpeechdReader, FlushDropsTextsStillWaitingAndNeverBlocksTheCaller) {
    TempDir dir;
    FakeSsipServer server(dir / "s.sock", FakeSsipServer::Mode::SlowSpeak);
    ScopedEnv env("SPEECHD_ADDRESS", address(dir / "s.sock"));
    SpeechdReader reader;
    const auto start = std::chrono::steady_clock::now();
    reader.SayString("first", false);
    std::this_thread::sleep_for(50ms);  // "first" is now with the slow daemon
    reader.SayString("second", false);
    reader.SayString("third", false);
    reader.SayString("fourth", true);
    EXPECT_LT(tw_test::elapsedMicros(start), 50000 + 20000.0);
    ASSERT_TRUE(reader.waitUntilSent(5s));
    EXPECT_EQ(server.texts(), (std::vector<std::string>{"first", "fourth"}));
    const auto lines = server.lines();
    const auto cancel = std::find(lines.begin(), lines.end(), "CANCEL SELF");
    const auto fourth = std::find(lines.begin(), lines.end(), "TEXT fourth");
    ASSERT_NE(cancel, lines.end());
    EXPECT_LT(cancel, fourth);
}

TEST(SpeechdReader, DaemonGoneIsIgnored) {
    for (auto mode : {FakeSsipServer::Mode::CloseAfterHello, FakeSsipServer::Mode::CloseOnSpeak,
                      FakeSsipServer::Mode::CloseOnAnswer}) {
        TempDir dir;
        FakeSsipServer server(dir / "s.sock", mode);
        ScopedEnv env("SPEECHD_ADDRESS", address(dir / "s.sock"));
        SpeechdReader reader;
        std::this_thread::sleep_for(50ms);
        double slowestUs = 0;
        for (int i = 0; i < 20; ++i) {
            const auto start = std::chrono::steady_clock::now();
            reader.SayString("hello " + std::to_string(i), i % 2 == 0);
            slowestUs = std::max(slowestUs, tw_test::elapsedMicros(start));
        }
        EXPECT_LT(slowestUs, 20000.0);
        ASSERT_TRUE(reader.waitUntilSent(5s));
        EXPECT_FALSE(reader.connected());
        reader.SayString("after", true);
        EXPECT_TRUE(reader.waitUntilSent(1s));
    }
}

TEST(SpeechdReader, HungDaemonHoldsUpNeitherSayingNorClosing) {
    TempDir dir;
    FakeSsipServer server(dir / "s.sock", FakeSsipServer::Mode::HangAfterHello);
    ScopedEnv env("SPEECHD_ADDRESS", address(dir / "s.sock"));
    auto reader = std::make_unique<SpeechdReader>();
    double slowestUs = 0;
    for (int i = 0; i < 500; ++i) {
        const auto start = std::chrono::steady_clock::now();
        reader->SayString("line " + std::to_string(i), false);
        slowestUs = std::max(slowestUs, tw_test::elapsedMicros(start));
    }
    EXPECT_LT(slowestUs, 20000.0);
    EXPECT_FALSE(reader->waitUntilSent(300ms));
    const auto start = std::chrono::steady_clock::now();
    reader.reset();
    EXPECT_LT(tw_test::elapsedMicros(start), 2e6);
}

TEST(SpeechdReader, DaemonThatNeverAnswersFailsWithinTheTimeout) {
    TempDir dir;
    FakeSsipServer server(dir / "s.sock", FakeSsipServer::Mode::Mute);
    ScopedEnv env("SPEECHD_ADDRESS", address(dir / "s.sock"));
    const auto start = std::chrono::steady_clock::now();
    try {
        SpeechdReader reader(300ms);
        FAIL() << "a mute daemon was taken for a working one";
    } catch (const tw::PlatformError& error) {
        EXPECT_NE(std::string(error.what()).find("did not answer"), std::string::npos) << error.what();
    }
    const double tookUs = tw_test::elapsedMicros(start);
    EXPECT_GT(tookUs, 250000.0);
    EXPECT_LT(tookUs, 1.5e6);
    EXPECT_TRUE(server.connected());
}

// The daemon itself, started with its own socket, then killed with its modules.
TEST(SpeechdReader, TalksToTheRealDaemonAndSurvivesItsEnd) {
    const char* daemon = "/usr/bin/speech-dispatcher";
    if (access(daemon, X_OK) != 0) GTEST_SKIP() << "speech-dispatcher is not installed";
    TempDir dir;
    const std::string socketPath = dir / "speechd.sock";
    std::filesystem::create_directories(dir / "home");
    std::filesystem::create_directories(dir / "run");

    // Orphaned output modules come back to this process to be reaped.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    std::vector<std::string> args = {daemon, "-s", "-t", "0", "-c", "unix_socket", "-S", socketPath, "-l", "1",
                                     "-L", dir.path()};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envs = {"HOME=" + dir / "home", "XDG_RUNTIME_DIR=" + dir / "run",
                                     "PATH=/usr/bin:/bin"};
    std::vector<char*> envp;
    for (auto& entry : envs) envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, daemon, &actions, &attributes, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    auto endDaemon = [pid] {
        kill(-pid, SIGKILL);
        while (waitpid(-pid, nullptr, 0) > 0) {
        }
    };

    ScopedEnv env("SPEECHD_ADDRESS", address(socketPath));
    std::unique_ptr<SpeechdReader> reader;
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    std::string lastError;
    while (!reader && std::chrono::steady_clock::now() < deadline) {
        try {
            reader = std::make_unique<SpeechdReader>();
        } catch (const tw::PlatformError& error) {
            lastError = error.what();
            std::this_thread::sleep_for(100ms);
        }
    }
    if (!reader) {
        endDaemon();
        FAIL() << "the daemon never took a connection: " << lastError;
    }
    reader->SayString("Hello from the test.", false);
    reader->SayString("And again.", true);
    EXPECT_TRUE(reader->waitUntilSent(5s));
    EXPECT_TRUE(reader->connected());

    endDaemon();
    const auto start = std::chrono::steady_clock::now();
    reader->SayString("Nobody hears this.", false);
    reader->SayString("Nor this.", true);
    EXPECT_LT(tw_test::elapsedMicros(start), 20000.0);
    EXPECT_TRUE(reader->waitUntilSent(5s));
    EXPECT_FALSE(reader->connected());
    reader.reset();
    prctl(PR_SET_CHILD_SUBREAPER, 0);
}

}  // namespace
