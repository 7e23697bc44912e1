// tests/fuzz/fuzz_util.h: what the game's fuzz targets share: a failure that stops the fuzzer
// with its reason, and one scratch folder for the run.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include <stdlib.h>

namespace tw::fuzz {

// Set by each target to its own name, for the failure line.
extern const char* const kTarget;

[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "%s: %s\n", kTarget, what);
    std::abort();
}

// A folder under /tmp made on first use, for the files a target writes.
inline const std::string& folder() {
    static const std::string made = [] {
        std::string name = std::string("/tmp/tw-") + kTarget + "-XXXXXX";
        if (!mkdtemp(name.data())) fail("no temporary folder");
        return name;
    }();
    return made;
}

}  // namespace tw::fuzz
