// tests/wav_util.h: reading a 16-bit PCM WAV file back, for the tests of what the game plays and speaks.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace tw_test {

struct Wav {
    int sampleRate = 0, channels = 0, bits = 0;
    std::vector<std::int16_t> samples;

    double seconds() const { return sampleRate * channels > 0 ? double(samples.size()) / channels / sampleRate : 0; }
    double rms() const {
        double sum = 0.0;
        for (std::int16_t s : samples) sum += double(s) * s;
        return samples.empty() ? 0.0 : std::sqrt(sum / double(samples.size())) / 32768.0;
    }
};

// Reads a 16-bit PCM WAV, walking its chunks. The RIFF size must match the file and the data
// chunk must lie inside it, so a header left stale by a writer is caught.
inline std::optional<Wav> readWav(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto le = [&](std::size_t at, int bytes) {
        std::uint32_t v = 0;
        for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b[at + i];
        return v;
    };
    if (b.size() < 12 || std::memcmp(&b[0], "RIFF", 4) || std::memcmp(&b[8], "WAVE", 4) || le(4, 4) + 8ull != b.size())
        return std::nullopt;
    Wav wav;
    for (std::size_t at = 12, size = 0; at + 8 <= b.size() && at + 8 + (size = le(at + 4, 4)) <= b.size();) {
        if (std::memcmp(&b[at], "fmt ", 4) == 0 && size >= 16 && le(at + 8, 2) == 1) {
            wav.channels = int(le(at + 10, 2));
            wav.sampleRate = int(le(at + 12, 4));
            wav.bits = int(le(at + 22, 2));
        } else if (std::memcmp(&b[at], "data", 4) == 0) {
            if (wav.bits != 16) return std::nullopt;  // no 16-bit PCM fmt chunk before the data
            for (std::size_t i = 0; i + 1 < size; i += 2) wav.samples.push_back(std::int16_t(le(at + 8 + i, 2)));
            return wav;
        }
        at += 8 + size + (size & 1);
    }
    return std::nullopt;
}

}  // namespace tw_test
