// tools/latency_bench.cpp: what the player hears. Records the monitor of a PulseAudio sink, runs
// the real terminal front end in a pseudo-terminal on speech path 0, types keys into it, and
// finds in the recording when the answer's sound arrives and when the old speech stops. The same
// is measured for speech-dispatcher, called directly the way a screen reader calls it.
//
// Usage: latency_bench PROGRAM_FOLDER [ROUNDS [SINK_RATE]]
// Needs PULSE_SERVER (a server whose default source is the sink's monitor) and SPEECHD_ADDRESS
// (a speech-dispatcher playing to that sink); scripts/bench-latency.sh sets both up.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <sched.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <libspeechd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/espeak_voice.h"
#include "platform/linux/sound_player.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
const Clock::time_point kStart = Clock::now();

double now() { return std::chrono::duration<double>(Clock::now() - kStart).count(); }
void pause(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

// The sink's own rate, as a sound card runs it (the voice's 22,050 Hz is resampled by the server).
int kRate = 44100;
constexpr int kLoud = 8;             // a sample this far from zero is sound
int frame() { return kRate / 500; }  // 2 ms per read, so the clock estimate stays fine-grained
const char* const kDown = "\x1b[B";  // "Play the game" after the first press
const char* const kUp = "\x1b[A";    // "How to play"

// Everything the sink played, with the time each sample was played: a sample's time is the
// earliest the reads allow (a read can come late, never early).
class Recorder {
public:
    Recorder() {
        const pa_sample_spec format{PA_SAMPLE_S16LE, static_cast<std::uint32_t>(kRate), 1};
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(frame() * 2);
        int error = 0;
        stream_ = pa_simple_new(nullptr, "latency bench", PA_STREAM_RECORD, nullptr, "sink monitor", &format, nullptr,
                                &attr, &error);
        if (!stream_) {
            std::fprintf(stderr, "cannot record from PulseAudio: %s\n", pa_strerror(error));
            std::exit(2);
        }
        thread_ = std::thread([this] { run(); });
    }
    ~Recorder() {
        stop_ = true;
        thread_.join();
        pa_simple_free(stream_);
    }

    std::size_t size() {
        std::lock_guard<std::mutex> lock(mutex_);
        return samples_.size();
    }
    // When the read that delivered the sample returned: never before the sink played it.
    double timeOf(std::size_t index) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto read = std::upper_bound(reads_.begin(), reads_.end(), index,
                                           [](std::size_t i, const Read& r) { return i < r.end; });
        return read == reads_.end() ? now() : read->at;
    }
    // The first sample delivered after time.
    std::size_t indexAt(double time) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto read =
            std::lower_bound(reads_.begin(), reads_.end(), time, [](const Read& r, double t) { return r.at < t; });
        if (read == reads_.end()) return samples_.size();
        return read == reads_.begin() ? 0 : std::prev(read)->end;
    }
    std::vector<std::int16_t> copy(std::size_t from, std::size_t count) {
        std::lock_guard<std::mutex> lock(mutex_);
        from = std::min(from, samples_.size());
        count = std::min(count, samples_.size() - from);
        return {samples_.begin() + long(from), samples_.begin() + long(from + count)};
    }
    // The first loud sample at or after from, waiting up to timeout seconds for it.
    std::optional<std::size_t> waitSound(std::size_t from, double timeout) {
        const double deadline = now() + timeout;
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                for (std::size_t i = from; i < samples_.size(); ++i)
                    if (std::abs(samples_[i]) >= kLoud) return i;
                from = std::max(from, samples_.size());
            }
            if (now() > deadline) return std::nullopt;
            pause(0.002);
        }
    }
    // Waits until the last `quiet` seconds held no sound; the index where that silence began.
    std::size_t waitSilence(double quiet, double timeout = 30) {
        const double deadline = now() + timeout;
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                std::size_t last = samples_.size();
                while (last > 0 && std::abs(samples_[last - 1]) < kLoud) --last;
                if (double(samples_.size() - last) / kRate >= quiet) return last;
            }
            if (now() > deadline) return size();
            pause(0.01);
        }
    }

private:
    void run() {
        // The instrument must not be the one held up by the busy loops: where allowed, it reads in
        // real time (the sound server runs at a raised priority too; the game does not).
        sched_param realtime{};
        realtime.sched_priority = 10;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &realtime);
        std::vector<std::int16_t> frame(static_cast<std::size_t>(::frame()));
        while (!stop_) {
            int error = 0;
            if (pa_simple_read(stream_, frame.data(), frame.size() * 2, &error) < 0) {
                std::fprintf(stderr, "recording failed: %s\n", pa_strerror(error));
                std::exit(2);
            }
            const double at = now();
            std::lock_guard<std::mutex> lock(mutex_);
            samples_.insert(samples_.end(), frame.begin(), frame.end());
            reads_.push_back({samples_.size(), at});
        }
    }

    struct Read {
        std::size_t end;  // one past its last sample
        double at;        // when it returned
    };
    pa_simple* stream_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::int16_t> samples_;
    std::vector<Read> reads_;
};

// The game in a pseudo-terminal; what it prints is read and dropped.
class Game {
public:
    Game(const std::string& program, const std::string& home) {
        pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ < 0) {
            std::perror("forkpty");
            std::exit(2);
        }
        if (pid_ == 0) {
            setenv("TERM", "xterm", 1);
            // The game writes its log and version file in its current folder.
            if (::chdir(home.c_str()) != 0) _exit(127);
            execl(program.c_str(), program.c_str(), "--home", home.c_str(), "--no-echo", static_cast<char*>(nullptr));
            _exit(127);
        }
        drain_ = std::thread([this] {
            char buffer[4096];
            while (::read(master_, buffer, sizeof buffer) > 0) {}
        });
    }
    ~Game() {
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 200 && ::waitpid(pid_, nullptr, WNOHANG) == 0; ++i) pause(0.01);
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        drain_.join();
        ::close(master_);
    }
    // The moment the bytes were handed to the terminal.
    double type(const char* bytes) {
        const double at = now();
        if (::write(master_, bytes, std::strlen(bytes)) < 0) std::perror("write");
        return at;
    }

private:
    pid_t pid_ = -1;
    int master_ = -1;
    std::thread drain_;
};

struct Figures {
    std::vector<double> idle, afterSilence, stops, starts, greeting, award;
    int utterances = 0, glitches = 0, missed = 0;
};

double ms(double seconds) { return seconds * 1000.0; }

// espeak-ng varies the fine shape of its waves a little from one saying to the next, but not
// their timing: two sayings of one text have the same loudness over time and the same pauses.
std::size_t kWindow = 0;  // 5 ms
std::size_t kGap = 0;     // a pause is at least 2 ms of quiet

bool quiet(std::int16_t sample) { return std::abs(sample) < kLoud; }

// Loudness of 5 ms windows over the first 100 ms from at, in tenths of a decade.
std::vector<double> envelope(const std::vector<std::int16_t>& a, std::size_t at) {
    std::vector<double> out;
    for (std::size_t w = 0; w < 20; ++w) {
        double energy = 0;
        for (std::size_t i = 0; i < kWindow; ++i) {
            const std::size_t k = at + w * kWindow + i;
            const double v = k < a.size() ? a[k] : 0;
            energy += v * v;
        }
        out.push_back(std::log10(energy / kWindow + 1e4));
    }
    return out;
}

bool soundsLike(const std::vector<std::int16_t>& a, std::size_t at, const std::vector<double>& reference) {
    const auto here = envelope(a, at);
    double difference = 0;
    for (std::size_t i = 0; i < here.size(); ++i) difference += std::abs(here[i] - reference[i]);
    return difference / double(here.size()) < 0.3;
}

// The pauses inside a saying, as (start, length) from its first sound to its last.
std::vector<std::pair<std::size_t, std::size_t>> pauses(const std::vector<std::int16_t>& a) {
    std::vector<std::pair<std::size_t, std::size_t>> out;
    std::size_t run = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (quiet(a[i])) {
            ++run;
            continue;
        }
        if (run >= kGap && i > run) out.emplace_back(i - run, run);
        run = 0;
    }
    return out;
}

// An underrun or a lost buffer puts silence into a saying: a pause the reference does not have,
// or a longer one. (espeak-ng itself stretches a sound now and then, by 10 ms or so, which moves
// the later pauses; that is not counted. The reference is the first saying of the same text.)
bool glitched(const std::vector<std::int16_t>& heard, const std::vector<std::int16_t>& reference) {
    auto trimmed = [](std::vector<std::int16_t> v) {
        while (!v.empty() && quiet(v.back())) v.pop_back();
        return v;
    };
    const auto pa = pauses(trimmed(heard)), pb = pauses(trimmed(reference));
    if (pa.size() != pb.size()) return true;
    for (std::size_t i = 0; i < pa.size(); ++i)
        if (pa[i].second > pb[i].second + kGap || pb[i].second > pa[i].second + kGap) return true;
    return false;
}

// The first place in a[from, from+span) where a sound like the reference begins after a quiet sample.
std::optional<std::size_t> find(const std::vector<std::int16_t>& a, std::size_t from, std::size_t span,
                                const std::vector<std::int16_t>& reference) {
    const auto wanted = envelope(reference, 0);
    for (std::size_t p = std::max<std::size_t>(from, 1); p < from + span && p < a.size(); ++p) {
        if (quiet(a[p]) || !quiet(a[p - 1])) continue;
        if (soundsLike(a, p, wanted)) return p;
    }
    return std::nullopt;
}

// Something that says "Play the game" (0) or "How to play" (1) now, cutting off what it says;
// say returns the moment it was asked.
class Speaker {
public:
    virtual ~Speaker() = default;
    virtual double say(int which) = 0;
};

// The game in its main menu: Down says "Play the game", Up "How to play".
class GameSpeaker : public Speaker {
public:
    explicit GameSpeaker(Game& game) : game_(game) {}
    double say(int which) override { return game_.type(which == 0 ? kDown : kUp); }

private:
    Game& game_;
};

// speech-dispatcher as its screen-reader clients use it: cancel, then say.
class DispatcherSpeaker : public Speaker {
public:
    DispatcherSpeaker() {
        char* error = nullptr;
        connection_ = spd_open2("latency bench", "main", nullptr, SPD_MODE_SINGLE, nullptr, 0, &error);
        if (!connection_) {
            std::fprintf(stderr, "cannot reach speech-dispatcher: %s\n", error ? error : "unknown error");
            std::exit(2);
        }
        std::free(error);
    }
    ~DispatcherSpeaker() override { spd_close(connection_); }
    double say(int which) override {
        const double at = now();
        spd_cancel(connection_);
        spd_say(connection_, SPD_MESSAGE, which == 0 ? "Play the game" : "How to play");
        return at;
    }

private:
    SPDConnection* connection_ = nullptr;
};

class Bench {
public:
    Bench(Recorder& recorder, std::string program, int rounds)
        : rec_(recorder), program_(std::move(program)), rounds_(rounds) {}

    // The game on its own voice: from the process's start, then in its main menu.
    Figures game() {
        Figures f;
        const std::string home = makeHome();
        for (int i = 0; i < std::max(3, rounds_); ++i) {
            rec_.waitSilence(0.5);
            const double started = now();
            Game game(program_ + "/tumblewick", home);
            if (auto onset = rec_.waitSound(rec_.indexAt(started), 5)) {
                f.greeting.push_back(rec_.timeOf(*onset) - started);
            } else {
                ++f.missed;
            }
        }
        rec_.waitSilence(0.5);
        const double started = now();
        Game game(program_ + "/tumblewick", home);
        rec_.waitSound(rec_.indexAt(started), 5);
        rec_.waitSilence(0.5);
        game.type(kDown);  // from the menu's title to its first item
        GameSpeaker speaker(game);
        rounds(speaker, f, true);
        award(f);
        fs::remove_all(home);
        return f;
    }

    // speech-dispatcher with the same texts, from connecting, then as a reader uses it.
    Figures dispatcher() {
        Figures f;
        for (int i = 0; i < std::max(3, rounds_); ++i) {
            rec_.waitSilence(0.5);
            const double started = now();
            DispatcherSpeaker speaker;
            speaker.say(0);
            if (auto onset = rec_.waitSound(rec_.indexAt(started), 5)) {
                f.greeting.push_back(rec_.timeOf(*onset) - started);
            } else {
                ++f.missed;
            }
            rec_.waitSilence(0.3);
        }
        DispatcherSpeaker speaker;
        rounds(speaker, f);
        return f;
    }

private:
    void rounds(Speaker& speaker, Figures& f, bool rendered = false) {
        std::vector<std::int16_t> play, how;
        if (rendered) {
            play = render("Play the game");
            how = render("How to play");
        }
        for (int round = 0; round < rounds_; ++round) {
            // Every fourth key comes after a silence long enough for a sound stream to close.
            const bool long_quiet = round % 4 == 3;
            rec_.waitSilence(long_quiet ? 3.0 : 0.4);
            utter(speaker, 0, f, play, long_quiet ? f.afterSilence : f.idle);
            rec_.waitSilence(0.4);
            utter(speaker, 1, f, how, f.idle);
            rec_.waitSilence(0.4);
            interrupt(speaker, how, f);
        }
    }

    void award(Figures& f) {
        const std::string sound = program_ + "/sounds/award.wav";
        for (int i = 0; i < std::max(3, rounds_); ++i) {
            rec_.waitSilence(i % 3 == 2 ? 3.0 : 0.4);
            const double called = now();
            tw::playWavAsync(sound);
            if (auto onset = rec_.waitSound(rec_.indexAt(called), 3)) {
                f.award.push_back(rec_.timeOf(*onset) - called);
            } else {
                ++f.missed;
            }
        }
        rec_.waitSilence(0.4);
    }

    // The game's voice speaking text into a WAV file, as the device gets it: without the quiet
    // samples it leaves out before the first sound.
    std::vector<std::int16_t> render(const std::string& text) {
        int voiceRate = kRate;
        const fs::path wav = fs::temp_directory_path() / ("tw-reference-" + std::to_string(::getpid()) + ".wav");
        {
            tw::EspeakVoice voice(wav.string());
            voice.speak(text, 0);
            voiceRate = voice.sampleRate();
        }
        std::ifstream in(wav, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        fs::remove(wav);
        std::vector<std::int16_t> samples;
        for (std::size_t i = 44; i + 1 < bytes.size(); i += 2)
            samples.push_back(std::int16_t(std::uint8_t(bytes[i]) | (std::uint8_t(bytes[i + 1]) << 8)));
        std::size_t first = 0;
        while (first < samples.size() && std::abs(samples[first]) < 16) ++first;
        // At the sink's rate, as the server's resampler hands it on (near enough for loudness).
        std::vector<std::int16_t> atSink;
        const double step = double(voiceRate) / kRate;
        for (double i = double(first); i < double(samples.size()); i += step) atSink.push_back(samples[std::size_t(i)]);
        return atSink;
    }

    std::string makeHome() {
        const fs::path home = fs::temp_directory_path() / ("tw-latency-" + std::to_string(::getpid()));
        fs::remove_all(home);
        fs::create_directories(home);
        fs::copy(program_ + "/words.txt", home / "words.txt");
        fs::copy(program_ + "/sounds", home / "sounds", fs::copy_options::recursive);
        // Speech path 0, the game's own voice, at the default rate.
        std::ofstream(home / "progress.ini", std::ios::binary) << " 0 \r\n 3 \r\n\r\n";
        return home.string();
    }

    // Says one text from silence and notes when it sounds. The reference is the voice's own
    // rendering of the text (for speech-dispatcher, its first saying); a saying whose pauses
    // differ from it had silence put into it on the way: a glitch.
    void utter(Speaker& speaker, int which, Figures& f, std::vector<std::int16_t>& reference,
               std::vector<double>& into) {
        const double asked = speaker.say(which);
        auto onset = rec_.waitSound(rec_.indexAt(asked), 3);
        if (!onset) {
            ++f.missed;
            return;
        }
        into.push_back(rec_.timeOf(*onset) - asked);
        const std::size_t end = rec_.waitSilence(0.3);
        const auto heard = rec_.copy(*onset, end - *onset);
        if (reference.empty()) {
            reference = heard;
            return;
        }
        ++f.utterances;
        if (glitched(heard, reference)) {
            ++f.glitches;
            if (std::getenv("TW_BENCH_VERBOSE")) {
                std::fprintf(stderr, "glitch in the saying at sample %zu: %zu samples, pauses", *onset, heard.size());
                for (auto [at, length] : pauses(heard)) std::fprintf(stderr, " %zu+%zu", at, length);
                std::fprintf(stderr, "; reference %zu samples, pauses", reference.size());
                for (auto [at, length] : pauses(reference)) std::fprintf(stderr, " %zu+%zu", at, length);
                std::fprintf(stderr, "\n");
            }
        }
    }

    // "Play the game" is cut off by "How to play" 150 ms after it starts: the old speech must
    // stop and the answer start.
    void interrupt(Speaker& speaker, const std::vector<std::int16_t>& how, Figures& f) {
        const double first = speaker.say(0);
        auto oldOnset = rec_.waitSound(rec_.indexAt(first), 3);
        if (!oldOnset || how.empty()) {
            ++f.missed;
            rec_.waitSilence(0.3);
            return;
        }
        pause(rec_.timeOf(*oldOnset) + 0.15 - now());
        const double asked = speaker.say(1);
        rec_.waitSilence(0.3);
        const auto all = rec_.copy(0, rec_.size());
        const std::size_t key = rec_.indexAt(asked);
        // The pause just before the answer (if any) is where the old speech stopped; a pause
        // that began before the key counts as a stop at the key.
        auto answer = find(all, key, kRate, how);
        if (!answer) {
            ++f.missed;
            return;
        }
        std::size_t stopped = *answer;
        while (stopped > key && quiet(all[stopped - 1])) --stopped;
        f.stops.push_back(std::max(0.0, rec_.timeOf(stopped) - asked));
        f.starts.push_back(rec_.timeOf(*answer) - asked);
    }

    Recorder& rec_;
    std::string program_;
    int rounds_;
};

std::string stat(std::vector<double> v, double q) {
    if (v.empty()) return "-";
    std::sort(v.begin(), v.end());
    const double at = q * double(v.size() - 1);
    const std::size_t lo = static_cast<std::size_t>(std::floor(at));
    const std::size_t hi = std::min(v.size() - 1, lo + 1);
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", ms(v[lo] + (v[hi] - v[lo]) * (at - double(lo))));
    return text;
}

std::string ratio(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.empty() || b.empty()) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", std::stod(stat(a, 0.5)) / std::max(0.1, std::stod(stat(b, 0.5))));
    return text;
}

void row(const char* what, const std::vector<double>& game, const std::vector<double>& reader) {
    std::printf("%-42s %8s %8s %5zu   %8s %8s %5zu   %6s\n", what, stat(game, 0.5).c_str(), stat(game, 0.95).c_str(),
                game.size(), stat(reader, 0.5).c_str(), stat(reader, 0.95).c_str(), reader.size(),
                ratio(game, reader).c_str());
}

// The sink's configured latency, which the null sink also uses as its processing period.
std::string sinkPeriod() {
    FILE* list = popen("pactl list sinks 2>/dev/null", "r");
    if (!list) return "(unknown)";
    char line[512];
    std::string found = "(unknown)";
    while (std::fgets(line, sizeof line, list)) {
        double now = 0, configured = 0;
        if (std::sscanf(line, " Latency: %lf usec, configured %lf usec", &now, &configured) == 2) {
            char text[64];
            std::snprintf(text, sizeof text, "%.1f ms", configured / 1000.0);
            found = text;
        }
    }
    pclose(list);
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: latency_bench PROGRAM_FOLDER [ROUNDS [SINK_RATE]]\n");
        return 2;
    }
    const std::string program = fs::absolute(argv[1]).string();
    const int rounds = argc > 2 ? std::max(2, std::atoi(argv[2])) : 20;
    if (argc > 3) kRate = std::clamp(std::atoi(argv[3]), 8000, 192000);
    kWindow = std::size_t(kRate) / 200;
    kGap = std::size_t(kRate) / 500;
    ::signal(SIGPIPE, SIG_IGN);
    Recorder recorder;
    std::printf(
        "Method: the sink's monitor is recorded at %d Hz in reads of 2 ms; each sample's time is\n"
        "when the read that delivered it returned, which is never before the sink played it (a\n"
        "sink's own clock cannot be read through its monitor: the server rewinds and renders again\n"
        "what it had rendered ahead, and the monitor hands on both). A key's time is when its bytes\n"
        "were written to the game's terminal. Floor: the sink renders in periods of %s, and a read\n"
        "returns up to 2 ms after its first sample; no figure below that is what a player hears.\n",
        kRate, sinkPeriod().c_str());
    Bench bench(recorder, program, rounds);
    Figures game = bench.game();
    Figures reader = bench.dispatcher();
    if (const char* dump = std::getenv("TW_BENCH_DUMP")) {
        const auto all = recorder.copy(0, recorder.size());
        std::ofstream(dump, std::ios::binary).write(reinterpret_cast<const char*>(all.data()), long(all.size() * 2));
    }

    std::printf(
        "\nmilliseconds; Tumblewick on speech path 0 (its own voice) beside speech-dispatcher's\n"
        "espeak-ng module called directly (cancel, then say), the same texts, the same sink\n");
    std::printf("%-42s %8s %8s %5s   %8s %8s %5s   %6s\n", "", "median", "p95", "n", "median", "p95", "n", "ratio");
    row("key -> first sound, idle voice", game.idle, reader.idle);
    row("key -> first sound after 3 s of silence", game.afterSilence, reader.afterSilence);
    row("interrupting key -> old speech stops", game.stops, reader.stops);
    row("interrupting key -> answer starts", game.starts, reader.starts);
    row("process start (dispatcher: connect) -> sound", game.greeting, reader.greeting);
    row("award sound: call -> sound", game.award, {});
    std::printf("%-42s %8d of %-5d          %8d of %-5d\n", "answers that differ from the first (glitches)",
                game.glitches, game.utterances, reader.glitches, reader.utterances);
    std::printf("%-42s %8d                   %8d\n", "measurements with no sound found", game.missed, reader.missed);
    return 0;
}
