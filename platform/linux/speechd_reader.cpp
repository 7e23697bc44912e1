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

namespace tw {

namespace {

// Texts the game may pile up behind a daemon that stopped reading; the oldest go first.
constexpr std::size_t kMaxQueued = 256;
// How long the destructor lets queued texts go out before it cuts the connection.
constexpr auto kDrainOnClose = std::chrono::milliseconds(500);

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

// Shared with the connecting thread, which may outlive a constructor that gave up on it.
struct Attempt {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    SPDConnection* connection = nullptr;
    std::string error;
};

SPDConnection* openConnection(std::chrono::milliseconds timeout) {
    auto attempt = std::make_shared<Attempt>();
    std::thread opener([attempt] {
        blockSigpipe();
        char* error = nullptr;
        // No autospawn: with no reader running the game falls back to its own voice at once.
        SPDConnection* connection = spd_open2("tumblewick", "main", nullptr, SPD_MODE_SINGLE, nullptr, 0, &error);
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
        throw PlatformError("speech-dispatcher did not answer within " + std::to_string(timeout.count()) + " ms");
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
    int watchFd = -1;  // our own duplicate of the socket: stays valid whatever libspeechd closes

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable changed;
    std::deque<Item> queue;
    bool busy = false;
    bool stopping = false;
    bool finished = false;
    std::atomic<bool> alive{true};
    std::thread worker;

    void run();
    void send(const Item& item);
};

SpeechdReader::SpeechdReader(std::chrono::milliseconds connectTimeout) : impl_(std::make_unique<Impl>()) {
    SPDConnection* connection = openConnection(connectTimeout);
    impl_->connection = connection;
    fcntl(connection->socket, F_SETFD, FD_CLOEXEC);
    impl_->watchFd = fcntl(connection->socket, F_DUPFD_CLOEXEC, 0);
    try {
        impl_->worker = std::thread([impl = impl_.get()] { impl->run(); });
    } catch (const std::system_error& error) {
        spd_close(connection);
        if (impl_->watchFd >= 0) ::close(impl_->watchFd);
        throw PlatformError(std::string("cannot start the speech-dispatcher thread: ") + error.what());
    }
}

SpeechdReader::~SpeechdReader() {
    {
        std::unique_lock<std::mutex> lock(impl_->mutex);
        impl_->stopping = true;
        impl_->wake.notify_all();
        // A daemon that stopped answering keeps the worker in a read; cutting the socket ends it.
        if (!impl_->changed.wait_for(lock, kDrainOnClose, [&] { return impl_->finished; }) && impl_->watchFd >= 0)
            shutdown(impl_->watchFd, SHUT_RDWR);
    }
    impl_->worker.join();
    if (impl_->watchFd >= 0) ::close(impl_->watchFd);
}

void SpeechdReader::SayString(const std::string& text, bool flush) {
    if (!impl_->alive.load()) return;
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
        if (alive.load()) send(item);
        {
            std::lock_guard<std::mutex> lock(mutex);
            busy = false;
        }
        changed.notify_all();
    }
    // After a lost connection libspeechd has closed its socket already; this only frees it.
    spd_close(connection);
    connection = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
    }
    changed.notify_all();
}

void SpeechdReader::Impl::send(const Item& item) {
    if (watchFd < 0 || peerGone(watchFd)) {
        alive.store(false);
        return;
    }
    if (item.cancelFirst && spd_cancel(connection) != 0 && peerGone(watchFd)) {
        alive.store(false);
        return;
    }
    if (!item.text.empty() && spd_say(connection, SPD_MESSAGE, item.text.c_str()) < 0 && peerGone(watchFd))
        alive.store(false);
}

}  // namespace tw
