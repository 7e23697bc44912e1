// tests/fuzz/fuzz_keys.cpp: any bytes from a terminal decode to the same keys whole, byte by
// byte and split anywhere.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/terminal/key_decoder.h"

namespace {

std::vector<tw::KeyDown> decode(std::string_view bytes, std::size_t step, std::uint8_t salt) {
    tw::KeyDecoder decoder;
    std::vector<tw::KeyDown> keys;
    for (std::size_t at = 0; at < bytes.size();) {
        // step 0: pieces of varying length, drawn from the bytes themselves.
        const std::size_t n = step ? step : 1 + (static_cast<std::uint8_t>(bytes[at]) ^ salt) % 7;
        decoder.feed(bytes.substr(at, n), keys);
        at += n;
    }
    if (decoder.wantsTimeout()) {
        const auto late = decoder.timeout();
        keys.insert(keys.end(), late.begin(), late.end());
    }
    return keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto whole = decode(bytes, size ? size : 1, 0);
    if (decode(bytes, 1, 0) != whole || decode(bytes, 0, 0x5a) != whole || decode(bytes, 0, 0xa5) != whole)
        std::abort();
    for (const auto& key : whole)
        if (key.KeyCode < 0 || key.KeyCode > 255 || key.Shift < 0 || key.Shift > 7) std::abort();
    return 0;
}
