#pragma once
// Shared by the fuzz targets: a broken invariant aborts, which libFuzzer reports as a finding.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

inline void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// A private scratch folder for the whole fuzzing run.
inline const std::string& ScratchFolder(const char* name) {
    static const std::string folder = [name] {
        std::string pattern = std::string("/tmp/") + name + ".XXXXXX";
        const char* made = mkdtemp(pattern.data());
        if (!made) std::abort();
        return std::string(made);
    }();
    return folder;
}
