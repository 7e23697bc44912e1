// tools/make_award.cpp: writes the award chime played when a task is completed.
// Usage: make_award <output.wav>
// Three rising notes of a C major arpeggio, each with a soft attack, an exponential decay
// and a quieter partial an octave up, mixed and scaled to a peak of about -3 dBFS.
// Output: RIFF/WAVE, 16-bit PCM, mono, 22050 Hz.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <numbers>
#include <string>
#include <vector>

#include "platform/wav_header.h"

namespace {

constexpr std::uint32_t sampleRate = 22050;
constexpr double totalSeconds = 1.2;
constexpr double peakDbfs = -3.0;

struct Note {
    double start;      // seconds
    double frequency;  // hertz
    double level;      // relative loudness
};

std::vector<double> synthesize() {
    const auto count = static_cast<std::size_t>(totalSeconds * sampleRate);
    std::vector<double> mix(count, 0.0);
    const Note notes[] = {
        {0.00, 523.25, 0.80},  // C5
        {0.13, 659.26, 0.85},  // E5
        {0.26, 783.99, 1.00},  // G5
    };
    constexpr double attack = 0.012;  // seconds, raised-cosine rise
    constexpr double decay = 0.22;    // seconds, exponential time constant
    constexpr double octaveLevel = 0.28;
    const double twoPi = 2.0 * std::numbers::pi;

    for (const Note& note : notes) {
        const auto first = static_cast<std::size_t>(note.start * sampleRate);
        for (std::size_t i = first; i < count; ++i) {
            const double t = static_cast<double>(i - first) / sampleRate;
            double envelope = std::exp(-t / decay);
            if (t < attack) {
                envelope *= 0.5 - 0.5 * std::cos(std::numbers::pi * t / attack);
            }
            const double tone =
                std::sin(twoPi * note.frequency * t) + octaveLevel * std::sin(twoPi * 2.0 * note.frequency * t);
            mix[i] += note.level * envelope * tone;
        }
    }

    // A short raised-cosine fade so the last sample is silent and the end has no click.
    const auto fade = static_cast<std::size_t>(0.08 * sampleRate);
    for (std::size_t k = 0; k < fade; ++k) {
        const double g = 0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(k) / fade);
        mix[count - 1 - k] *= g;
    }

    double peak = 0.0;
    for (double v : mix) peak = std::max(peak, std::abs(v));
    const double target = std::pow(10.0, peakDbfs / 20.0);
    if (peak > 0.0) {
        for (double& v : mix) v *= target / peak;
    }
    return mix;
}

std::string encodeWav(const std::vector<double>& samples) {
    std::string out = tw::wavHeader(sampleRate, static_cast<std::uint32_t>(samples.size() * 2));
    for (double v : samples) {
        const double scaled = std::clamp(std::round(v * 32767.0), -32767.0, 32767.0);
        const auto sample = static_cast<std::uint16_t>(static_cast<std::int16_t>(scaled));
        out += static_cast<char>(sample & 0xff);
        out += static_cast<char>(sample >> 8);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_award <output.wav>\n";
        return 2;
    }
    const std::string path = argv[1];
    const std::string bytes = encodeWav(synthesize());

    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        std::cerr << "make_award: cannot open " << path << " for writing\n";
        return 1;
    }
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        std::cerr << "make_award: cannot write " << path << "\n";
        return 1;
    }
    return 0;
}
