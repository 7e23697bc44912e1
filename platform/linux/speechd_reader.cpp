// platform/linux/speechd_reader.cpp: the screen reader's speech, reached through speech-dispatcher.
#include "platform/linux/speechd_reader.h"

#include <fcntl.h>
#include <libspeechd.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

// libspeechd 0.11 leaks a short g_strdup from every spd_open2 that fails to connect. It is not
// ours to fix; LeakSanitizer, when built in, reads this list at the end of the program (and of
// the test programs that link this file). Glib has no frame pointers, so the quick unwinder often
// stops inside it, and only libspeechd brings glib in.
extern "C" const char* __lsan_default_suppressions() { return "leak:libspeechd.so\nleak:libglib-2.0.so\n"; }

namespace tw {

namespace {

// Texts the game may pile up behind a daemon that stopped reading; the oldest go first.
constexpr std::size_t kMaxQueued = 256;
// How long the destructor lets queued texts go out before it cuts the connection.
constexpr auto kDrainOnClose = std::chrono::milliseconds(500);
// Connecting again, after the daemon went away: at most this long, and not more often.
constexpr auto kReconnectTimeout = std::chrono::seconds(3);
constexpr auto kReconnectEvery = std::chrono::seconds(1);

// libspeechd writes to its socket with plain write(); a daemon that died would otherwise raise
// SIGPIPE and end the game. Only the threads that talk to the daemon block it.
void blockSigpipe() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// In single mode the daemon sends nothing unasked, so anything readable here is the end.
bool peerGone(int fd) {
    pollfd watch{fd, static_cast<short>(POLLIN | POLLRDHUP), 0};
    if (poll(&watch, 1, 0) <= 0) return false;
    if (watch.revents & (POLLHUP | POLLERR | POLLRDHUP | POLLNVAL)) return true;
    if (watch.revents & POLLIN) {
        char byte = 0;
        const ssize_t got = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
    }
    return false;
}

// A daemon that took the connection and then did not answer: one to leave alone, not to start.
struct NoAnswer : PlatformError {
    using PlatformError::PlatformError;
};

// Shared with the connecting thread, which may outlive a constructor that gave up on it.
struct Attempt {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    SPDConnection* connection = nullptr;
    std::string error;
};

// Connects within timeout; with autospawn, libspeechd starts a daemon that is not running.
SPDConnection* openConnection(std::chrono::milliseconds timeout, bool autospawn) {
    auto attempt = std::make_shared<Attempt>();
    std::thread opener([attempt, autospawn] {
        blockSigpipe();
        char* error = nullptr;
        SPDConnection* connection =
            spd_open2("tumblewick", "main", nullptr, SPD_MODE_SINGLE, nullptr, autospawn ? 1 : 0, &error);
        const std::string reason = error ? error : "";
        std::free(error);
        std::lock_guard<std::mutex> lock(attempt->mutex);
        if (attempt->abandoned) {
            if (connection) spd_close(connection);
            return;
        }
        attempt->connection = connection;
        attempt->error = reason;
        attempt->finished = true;
        attempt->done.notify_all();
    });
    std::unique_lock<std::mutex> lock(attempt->mutex);
    if (!attempt->done.wait_for(lock, timeout, [&] { return attempt->finished; })) {
        attempt->abandoned = true;
        lock.unlock();
        opener.detach();
        throw NoAnswer("speech-dispatcher did not answer within " + std::to_string(timeout.count()) + " ms");
    }
    lock.unlock();
    opener.join();
    if (!attempt->connection) {
        throw PlatformError(attempt->error.empty() ? "cannot connect to speech-dispatcher" : attempt->error);
    }
    return attempt->connection;
}

}  // namespace

struct SpeechdReader::Impl {
    struct Item {
        std::string text;
        bool cancelFirst = false;
    };

    SPDConnection* connection = nullptr;
    // Our own duplicate of the socket: stays valid whatever libspeechd closes. Atomic, since the
    // destructor may cut it while the worker connects anew.
    std::atomic<int> watchFd{-1};
    bool spawnFirst = false;  // no daemon answered at start: the worker starts one
    std::chrono::steady_clock::time_point lastAttempt{};

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable changed;
    std::deque<Item> queue;
    bool busy = false;
    bool stopping = false;
    bool finished = false;
    std::atomic<bool> alive{true};
    std::atomic<bool> closing{false};
    std::thread worker;

    void run();
    // Sends one item; false when the daemon turned out to be gone.
    bool send(const Item& item);
    void adopt(SPDConnection* opened);
    void disconnect();
    // Connects anew, starting the daemon if need be; false when it cannot (yet).
    bool reconnect();
};

void SpeechdReader::Impl::adopt(SPDConnection* opened) {
    connection = opened;
    fcntl(connection->socket, F_SETFD, FD_CLOEXEC);
    watchFd = fcntl(connection->socket, F_DUPFD_CLOEXEC, 0);
    alive.store(true);
}

void SpeechdReader::Impl::disconnect() {
    // After a lost connection libspeechd has closed its socket already; this only frees it.
    if (connection) spd_close(connection);
    connection = nullptr;
    if (watchFd >= 0) ::close(watchFd);
    watchFd = -1;
    alive.store(false);
}

bool SpeechdReader::Impl::reconnect() {
    if (closing.load()) return false;  // the game is ending: what waits is dropped
    const auto now = std::chrono::steady_clock::now();
    if (!spawnFirst && now - lastAttempt < kReconnectEvery) return false;
    spawnFirst = false;
    lastAttempt = now;
    try {
        adopt(openConnection(std::chrono::duration_cast<std::chrono::milliseconds>(kReconnectTimeout), true));
        return true;
    } catch (const PlatformError&) {
        return false;
    }
}

SpeechdReader::SpeechdReader(std::chrono::milliseconds connectTimeout, const std::string& daemon)
    : impl_(std::make_unique<Impl>()) {
    try {
        impl_->adopt(openConnection(connectTimeout, false));
    } catch (const NoAnswer&) {
        throw;
    } catch (const PlatformError&) {
        // Not running, but there to be started: as speech-dispatcher's own clients do, it is
        // started when the first text is to be said, so start-up waits for nothing. Anything else
        // (a daemon that hangs, none installed) leaves the game on its own voice.
        if (daemon.empty() || ::access(daemon.c_str(), X_OK) != 0) throw;
        impl_->alive.store(false);
        impl_->spawnFirst = true;
    }
    try {
        impl_->worker = std::thread([impl = impl_.get()] { impl->run(); });
    } catch (const std::system_error& error) {
        impl_->disconnect();
        throw PlatformError(std::string("cannot start the speech-dispatcher thread: ") + error.what());
    }
}

SpeechdReader::~SpeechdReader() {
    {
        std::unique_lock<std::mutex> lock(impl_->mutex);
        impl_->stopping = true;
        impl_->closing.store(true);
        impl_->wake.notify_all();
        // A daemon that stopped answering keeps the worker in a read; cutting the socket ends it.
        if (!impl_->changed.wait_for(lock, kDrainOnClose, [&] { return impl_->finished; }) && impl_->watchFd >= 0)
            shutdown(impl_->watchFd, SHUT_RDWR);
    }
    impl_->worker.join();
    if (impl_->watchFd >= 0) ::close(impl_->watchFd);
}

void SpeechdReader::SayString(const std::string& text, bool flush) {
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

void SpeechdReader::Impl::run() {
    blockSigpipe();
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
        // A daemon that went away is connected to again, and started again if need be, for the
        // next text; the text that found it gone goes to the new one.
        if ((connection || reconnect()) && !send(item)) {
            disconnect();
            if (reconnect() && !send(item)) disconnect();
        }
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

bool SpeechdReader::Impl::send(const Item& item) {
    if (watchFd < 0 || peerGone(watchFd)) return false;
    if (item.cancelFirst && spd_cancel(connection) != 0 && peerGone(watchFd)) return false;
    if (!item.text.empty() && spd_say(connection, SPD_MESSAGE, item.text.c_str()) < 0 && peerGone(watchFd))
        return false;
    return true;
}

}  // namespace tw
