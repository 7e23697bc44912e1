// platform/linux/speechd_reader.cpp: the screen reader's speech, reached through speech-dispatcher.
#include "platform/linux/speechd_reader.h"

#include <fcntl.h>
#include <signal.h>
#include <libspeechd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/linux/thread_signals.h"

// libspeechd 0.11 leaks a short g_strdup from every spd_open2 that fails to connect. It is not
// ours to fix; LeakSanitizer, when built in, reads this list at the end of the program (and of
// the test programs that link this file). Glib has no frame pointers, so the quick unwinder often
// stops inside it, and only libspeechd brings glib in.
extern "C" const char* __lsan_default_suppressions() { return "leak:libspeechd.so\nleak:libglib-2.0.so\n"; }

namespace tw {

namespace {

using Clock = std::chrono::steady_clock;

// Texts the game may pile up behind a slow daemon; the oldest go first.
constexpr std::size_t kMaxQueued = 256;
// At the end: how long queued texts may still go out, then how long a cut connection may take
// to let go of the reader's thread before it is left behind.
constexpr auto kDrainOnClose = std::chrono::milliseconds(250);
constexpr auto kLetGo = std::chrono::milliseconds(150);
// A daemon that libspeechd has to start first may take this long to answer.
constexpr auto kSpawnLimit = std::chrono::seconds(5);

// The unix socket libspeechd would connect to; empty for another kind of address.
std::string socketPath() {
    char* error = nullptr;
    SPDConnectionAddress* address = spd_get_default_address(&error);
    std::free(error);
    std::string path;
    if (address && address->method == SPD_METHOD_UNIX_SOCKET && address->unix_socket_name)
        path = address->unix_socket_name;
    if (address) SPDConnectionAddress__free(address);
    return path;
}

// True while the process runs: there, and neither a zombie nor dead.
bool running(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return ::kill(pid, 0) == 0;
    const std::size_t end = line.rfind(") ");
    return end != std::string::npos && end + 2 < line.size() && line[end + 2] != 'Z' && line[end + 2] != 'X';
}

// Shared with the connecting thread, which may outlive a reader that gave up on it.
struct Attempt {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    SPDConnection* connection = nullptr;
};

// Connects within timeout, or returns nullptr and leaves a hanging spd_open2 behind; with
// autospawn, libspeechd starts a daemon that is not running.
SPDConnection* openConnection(std::chrono::milliseconds timeout, bool autospawn) {
    auto attempt = std::make_shared<Attempt>();
    std::thread opener([attempt, autospawn] {
        blockThreadSignals();
        char* error = nullptr;
        SPDConnection* connection =
            spd_open2("tumblewick", "main", nullptr, SPD_MODE_SINGLE, nullptr, autospawn ? 1 : 0, &error);
        std::free(error);
        std::lock_guard<std::mutex> lock(attempt->mutex);
        if (attempt->abandoned) {
            if (connection) spd_close(connection);
            return;
        }
        attempt->connection = connection;
        attempt->finished = true;
        attempt->done.notify_all();
    });
    std::unique_lock<std::mutex> lock(attempt->mutex);
    if (!attempt->done.wait_for(lock, timeout, [&] { return attempt->finished; })) {
        attempt->abandoned = true;
        lock.unlock();
        opener.detach();
        return nullptr;
    }
    lock.unlock();
    opener.join();
    return attempt->connection;
}

}  // namespace

struct SpeechdReader::Impl {
    struct Item {
        std::string text;
        bool cancelFirst = false;
    };

    std::function<void()> onSilent;
    std::chrono::milliseconds answerLimit;
    std::string daemon;

    // Worker thread only, apart from watchFd: our own duplicate of the socket, which the
    // watchdog and the destructor cut to free a worker stuck in a read.
    SPDConnection* connection = nullptr;
    std::atomic<int> watchFd{-1};

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable changed;
    std::deque<Item> queue;
    bool busy = false;
    bool stopping = false;
    bool finished = false;
    // When the call under way must have been answered; max while none is under way.
    Clock::time_point callDeadline = Clock::time_point::max();
    std::atomic<bool> alive{false};
    std::atomic<bool> silent{false};
    pid_t startedDaemon = 0;  // the daemon this reader started, if it did
    std::thread worker;
    std::thread watchdog;

    void run();
    void watch();
    void deliver(const Item& item);
    bool send(const Item& item);
    bool connect();
    void disconnect();
    void giveUp();
    void armCall(bool on);
};

void SpeechdReader::Impl::giveUp() {
    if (silent.exchange(true)) return;
    std::function<void()> tell;
    {
        std::lock_guard<std::mutex> lock(mutex);
        queue.clear();
        tell = onSilent;
    }
    if (tell) tell();
}

void SpeechdReader::Impl::armCall(bool on) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        callDeadline = on ? Clock::now() + answerLimit : Clock::time_point::max();
    }
    changed.notify_all();
}

bool SpeechdReader::Impl::connect() {
    // A daemon whose socket is there should answer at once; one that must be started first
    // gets the time a start takes.
    const bool autospawn = !daemon.empty() && ::access(daemon.c_str(), X_OK) == 0;
    const std::string path = socketPath();
    const bool running = !path.empty() && ::access(path.c_str(), F_OK) == 0;
    const auto limit =
        running || !autospawn ? answerLimit : std::chrono::duration_cast<std::chrono::milliseconds>(kSpawnLimit);
    connection = openConnection(limit, autospawn);
    if (!connection) return false;
    fcntl(connection->socket, F_SETFD, FD_CLOEXEC);
    watchFd = fcntl(connection->socket, F_DUPFD_CLOEXEC, 0);
    // A daemon this game started is known by the socket's own word on who listens at its other
    // end, whatever its address; one that was running is never this game's to end.
    if (!running && autospawn) {
        ucred peer{};
        socklen_t size = sizeof peer;
        if (getsockopt(connection->socket, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.pid > 1) {
            std::lock_guard<std::mutex> lock(mutex);
            startedDaemon = peer.pid;
        }
    }
    alive.store(true);
    return true;
}

void SpeechdReader::Impl::disconnect() {
    // After a lost connection libspeechd has closed its socket already; this only frees it.
    if (connection) spd_close(connection);
    connection = nullptr;
    if (const int fd = watchFd.exchange(-1); fd >= 0) ::close(fd);
    alive.store(false);
}

SpeechdReader::SpeechdReader(std::function<void()> onSilent, std::chrono::milliseconds answerLimit,
                             const std::string& daemon)
    : impl_(std::make_shared<Impl>()) {
    const std::string path = socketPath();
    const bool startable = !daemon.empty() && ::access(daemon.c_str(), X_OK) == 0;
    if (!startable && (path.empty() || ::access(path.c_str(), F_OK) != 0))
        throw PlatformError("no speech-dispatcher is running at " + (path.empty() ? "its address" : path) +
                            ", and none is installed to start");
    impl_->onSilent = std::move(onSilent);
    impl_->answerLimit = answerLimit;
    impl_->daemon = startable ? daemon : "";
    try {
        impl_->worker = std::thread([impl = impl_] { impl->run(); });
        impl_->watchdog = std::thread([impl = impl_] { impl->watch(); });
    } catch (const std::system_error& error) {
        throw PlatformError(std::string("cannot start the speech-dispatcher thread: ") + error.what());
    }
}

SpeechdReader::~SpeechdReader() {
    Impl& impl = *impl_;
    bool done;
    {
        std::unique_lock<std::mutex> lock(impl.mutex);
        impl.stopping = true;
        impl.onSilent = nullptr;  // the game that asked to hear of it is going away
        impl.wake.notify_all();
        done = impl.changed.wait_for(lock, kDrainOnClose, [&] { return impl.finished; });
        if (!done) {
            // A daemon that stopped answering keeps the worker in a read; cutting the socket ends it.
            impl.silent.store(true);
            impl.queue.clear();
            if (const int fd = impl.watchFd.load(); fd >= 0) shutdown(fd, SHUT_RDWR);
            done = impl.changed.wait_for(lock, kLetGo, [&] { return impl.finished; });
        }
    }
    impl.changed.notify_all();
    if (done) {
        impl.worker.join();
        impl.watchdog.join();
    } else {
        // Stuck in libspeechd (a connection that never completes): the threads keep their own
        // share of the reader and end with the process.
        impl.worker.detach();
        impl.watchdog.detach();
    }
    // A daemon the game started and that answers is left to end by its own idle timeout: another
    // client may be using it. One that stalled is ended with the game.
    pid_t daemon = 0;
    {
        std::lock_guard<std::mutex> lock(impl.mutex);
        if (!done) daemon = impl.startedDaemon;
    }
    if (daemon > 1) {
        ::kill(daemon, SIGTERM);
        // A daemon stuck on its sound output never finishes its orderly end; it is not left behind.
        for (int i = 0; i < 10 && running(daemon); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (running(daemon)) ::kill(daemon, SIGKILL);
    }
}

void SpeechdReader::SayString(const std::string& text, bool flush) {
    if (impl_->silent.load()) return;
    // A line that is only "." would end SSIP's data block early; one line per text avoids it.
    std::string line = text;
    for (char& c : line)
        if (c == '\r' || c == '\n') c = ' ';
    if (line.empty() && !flush) return;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        // What waits here would only be cancelled once sent.
        if (flush) impl_->queue.clear();
        if (impl_->queue.size() >= kMaxQueued) {
            const bool cancel = impl_->queue.front().cancelFirst;
            impl_->queue.pop_front();
            if (cancel) impl_->queue.front().cancelFirst = true;
        }
        impl_->queue.push_back({std::move(line), flush});
    }
    impl_->wake.notify_one();
}

bool SpeechdReader::waitUntilSent(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->queue.empty() && !impl_->busy; });
}

bool SpeechdReader::connected() const { return impl_->alive.load(); }
bool SpeechdReader::silent() const { return impl_->silent.load(); }

void SpeechdReader::Impl::run() {
    blockThreadSignals();
    for (;;) {
        Item item;
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [&] { return stopping || !queue.empty(); });
            if (queue.empty()) break;
            item = std::move(queue.front());
            queue.pop_front();
            busy = true;
        }
        if (!silent.load()) deliver(item);
        {
            std::lock_guard<std::mutex> lock(mutex);
            busy = false;
        }
        changed.notify_all();
    }
    disconnect();
    {
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
    }
    changed.notify_all();
}

// A daemon that went away is connected to again, and started again if need be, for the text
// that found it gone; one that cannot be reached or does not answer is given up.
void SpeechdReader::Impl::deliver(const Item& item) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!connection && !connect()) break;
        if (send(item)) return;
        disconnect();
        if (silent.load()) return;
    }
    giveUp();
}

bool SpeechdReader::Impl::send(const Item& item) {
    armCall(true);
    bool ok = true;
    if (item.cancelFirst && spd_cancel(connection) != 0) ok = false;
    if (ok && !item.text.empty() && spd_say(connection, SPD_MESSAGE, item.text.c_str()) < 0) ok = false;
    armCall(false);
    return ok && !silent.load();
}

// Gives the daemon up when a call has not been answered in time, and cuts the socket so that
// the worker comes back from its read.
void SpeechdReader::Impl::watch() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!finished) {
        if (callDeadline == Clock::time_point::max()) {
            changed.wait(lock);
            continue;
        }
        const auto deadline = callDeadline;
        changed.wait_until(lock, deadline);
        if (callDeadline == deadline && Clock::now() >= deadline) {
            callDeadline = Clock::time_point::max();
            lock.unlock();
            giveUp();
            if (const int fd = watchFd.load(); fd >= 0) shutdown(fd, SHUT_RDWR);
            lock.lock();
        }
    }
}

}  // namespace tw
