// platform/wav_header.h: the 44-byte header of a 16-bit mono PCM WAV file, for every writer of
// one (the voice's WAV output, the award chime's generator).
#pragma once

#include <cstdint>
#include <string>

namespace tw {

constexpr std::uint32_t kWavHeaderBytes = 44;

inline std::string wavHeader(std::uint32_t sampleRate, std::uint32_t dataBytes) {
    std::string out;
    auto put16 = [&out](std::uint16_t v) {
        for (int i = 0; i < 2; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
    };
    auto put32 = [&out](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
    };
    out += "RIFF";
    put32(36 + dataBytes);
    out += "WAVEfmt ";
    put32(16);
    put16(1);  // PCM
    put16(1);  // mono
    put32(sampleRate);
    put32(sampleRate * 2);  // bytes per second
    put16(2);               // bytes per frame
    put16(16);              // bits per sample
    out += "data";
    put32(dataBytes);
    return out;
}

}  // namespace tw
