// tests/linux/speechd_reader_test.cpp: the speech-dispatcher client against a recording SSIP server and no daemon.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/linux/speechd_reader.h"
#include "tests/linux/test_support.h"

namespace {

using namespace std::chrono_literals;
using namespace tw_test;
using tw::SpeechdReader;
using Clock = std::chrono::steady_clock;

// Speaks enough SSIP for libspeechd and records each line it gets: commands upper-cased, the
// lines of a SPEAK block as "TEXT <line>". After `answers` replies it holds the connection without
// reading until answer() allows more; it hangs up after replying to a command starting with hangUpAfter.
// SPEECHD_ADDRESS points at it while it lives.
class FakeSsip {
public:
    explicit FakeSsip(int answers = 1 << 30, std::string hangUpAfter = "~", int hangUps = 1 << 30)
        : answers_(answers), hangUps_(hangUps) {
        sockaddr_un address{AF_UNIX, {}};
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", (dir_ / "s.sock").c_str());
        const int bound = bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        if (bound != 0 || listen(listener_, 4) != 0) std::abort();
        thread_ = std::thread([this, hangUpAfter] { serve(hangUpAfter); });
    }
    ~FakeSsip() {
        stop_ = true;
        thread_.join();
        close(listener_);
    }
    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    void answer(int count) { answers_ = count; }

private:
    void serve(const std::string& hangUpAfter) {
        int client = -1;
        std::string pending;
        bool inText = false;
        while (!stop_) {
            pollfd watch{client >= 0 ? client : listener_, POLLIN, 0};
            if ((client >= 0 && answers_ <= 0) || poll(&watch, 1, 20) <= 0) {
                std::this_thread::sleep_for(10ms);
                continue;
            }
            char buffer[1024];
            const ssize_t got = client < 0 ? 0 : recv(client, buffer, sizeof buffer, 0);
            if (client < 0)
                client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            else if (got <= 0)
                close(std::exchange(client, -1));
            pending.append(buffer, std::size_t(std::max<ssize_t>(got, 0)));
            for (std::size_t end; client >= 0 && answers_ > 0 && (end = pending.find("\r\n")) != std::string::npos;) {
                std::string line = pending.substr(0, end);
                pending.erase(0, end + 2);
                const bool text = inText && line != ".";
                for (char& c : line) c = text ? c : char(std::toupper(static_cast<unsigned char>(c)));
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    lines_.push_back(text ? "TEXT " + line : line);
                }
                if (text) continue;
                const char* reply = inText            ? "225-1\r\n225 OK MESSAGE QUEUED\r\n"
                                    : line == "SPEAK" ? "230 OK RECEIVING DATA\r\n"
                                                      : "200 OK\r\n";
                inText = line == "SPEAK";
                --answers_;
                send(client, reply, std::strlen(reply), MSG_NOSIGNAL);
                if (line.rfind(hangUpAfter, 0) == 0 && hangUps_-- > 0) close(std::exchange(client, -1));
            }
        }
        if (client >= 0) close(client);
    }

    TempDir dir_;
    ScopedEnv address_{"SPEECHD_ADDRESS", "unix_socket:" + dir_ / "s.sock"};
    int listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::atomic<int> answers_;
    int hangUps_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::string> lines_;
    std::thread thread_;
};

TEST(SpeechdReader, NoDaemonAndNoneToStartThrowsWithTheReasonAtOnce) {
    TempDir dir;
    ScopedEnv env("SPEECHD_ADDRESS", "unix_socket:" + dir / "nowhere.sock");
    const auto start = Clock::now();
    const std::string reason = errorFrom([] { SpeechdReader reader({}, 1s, ""); });
    EXPECT_NE(reason.find(dir / "nowhere.sock"), std::string::npos) << reason;
    EXPECT_LT(elapsedMicros(start), 100000.0);
}

// Every text goes at message priority; a flush cancels what was said and drops what still waits.
TEST(SpeechdReader, NamesItselfQueuesAsMessagesAndCancelsOnFlush) {
    FakeSsip server;
    SpeechdReader reader({}, 1s, "");
    for (const auto& [text, flush] : std::vector<std::pair<std::string, bool>>{
             {"one", false}, {"two", false}, {"three", true}, {"", true}, {"", false}, {"four\r\n.\nfive", false}}) {
        reader.SayString(text, flush);
        ASSERT_TRUE(reader.waitUntilSent(5s)) << text;
    }
    const std::size_t heard = server.lines().size();
    server.answer(1);  // "first" gets its priority set, then waits at SPEAK
    reader.SayString("first", false);
    for (const auto until = Clock::now() + 5s; server.lines().size() == heard && Clock::now() < until;)
        std::this_thread::sleep_for(1ms);
    for (const char* text : {"second", "third"}) reader.SayString(text, false);
    reader.SayString("fourth", true);
    server.answer(1 << 30);
    ASSERT_TRUE(reader.waitUntilSent(5s));
    EXPECT_TRUE(reader.connected());
    std::string all;
    for (const std::string& line : server.lines()) all += line + "|";
    EXPECT_EQ(all.rfind("SET SELF CLIENT_NAME \"", 0), 0u) << all;  // then the user's name
    const std::string say = "SET SELF PRIORITY MESSAGE|SPEAK|TEXT ", cancel = "CANCEL SELF|";
    EXPECT_EQ(all.substr(std::min(all.find(":TUMBLEWICK:MAIN\"|"), all.size())),
              ":TUMBLEWICK:MAIN\"|" + say + "one|.|" + say + "two|.|" + cancel + say + "three|.|" + cancel + say +
                  "four  . five|.|" + say + "first|.|" + cancel + say + "fourth|.|");
}

// As speech-dispatcher's own clients do, the reader starts an installed daemon that is not
// running, and start-up does not wait for it. A daemon that answers is not ended with the reader
// (another client may be using it): it ends by its own idle timeout, once it has nothing to say
// (here, with no sound device, it never has, so the test ends it).
TEST(SpeechdReader, AnInstalledDaemonThatIsNotRunningIsStartedAndLeftRunning) {
    if (access(SpeechdReader::kDaemonProgram, X_OK) != 0) GTEST_SKIP() << "speech-dispatcher is not installed";
    TempDir dir;
    // The daemon's default socket, in a runtime folder of our own: the one address it starts on.
    ScopedEnv env("SPEECHD_ADDRESS", std::nullopt);
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path());
    pid_t daemon = 0;
    {
        SpeechdReader reader;
        EXPECT_FALSE(reader.connected());  // nothing started before there is something to say
        reader.SayString("hello", false);
        ASSERT_TRUE(reader.waitUntilSent(10s));
        EXPECT_TRUE(reader.connected());
        std::ifstream(dir / "speech-dispatcher/pid/speech-dispatcher.pid") >> daemon;  // the one it started
    }
    ASSERT_GT(daemon, 1);
    // A zombie, where nothing reaps it, counts as gone.
    const auto gone = [daemon] {
        std::string state;
        std::ifstream stat("/proc/" + std::to_string(daemon) + "/stat");
        std::getline(stat, state);
        const std::size_t end = state.rfind(") ");
        return end == std::string::npos || state.substr(end + 2, 1) == "Z";
    };
    std::this_thread::sleep_for(500ms);
    EXPECT_FALSE(gone());
    kill(daemon, SIGTERM);
    for (const auto until = Clock::now() + 2s; !gone() && Clock::now() < until;) std::this_thread::sleep_for(10ms);
    if (!gone()) kill(daemon, SIGKILL);
}

// A daemon that hangs up once is connected to again for the text that found it gone; the write
// that found it gone raised SIGPIPE, which must not end the game.
TEST(SpeechdReader, ADaemonThatComesBackIsSpokenToAgain) {
    FakeSsip flaky(1 << 30, "SET SELF PRIORITY", 1);
    SpeechdReader reader({}, 1s, "");
    reader.SayString("hello", false);
    ASSERT_TRUE(reader.waitUntilSent(5s));
    EXPECT_TRUE(reader.connected());
    const auto lines = flaky.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "TEXT hello"), 1) << ::testing::PrintToString(lines);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("SET SELF CLIENT_NAME", 0) == 0; }),
              2);
}

}  // namespace
