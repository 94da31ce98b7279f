// A signature check of a 64 KiB package beside the package check itself (reading the file,
// its CRC-32 and MD5): the check must cost far less than the load it guards.
#include "package/FirmwarePackage.h"
#include "package/PackageWriter.h"
#include "package/Signature.h"
#include "package/SignatureMaker.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

struct Signed {
    std::vector<uint8_t> package, signature;
    TrustedKeys keys;
    std::string path;
};

// The largest package (65529 bytes), signed with a fresh key, written to a scratch file.
const Signed& Fixture() {
    static const Signed fixture = [] {
        Signed s;
        PackageLayout layout;
        layout.BlockSize = 8;
        layout.BlockCount = 8177;
        s.package = BuildPackage(layout);
        std::string privatePem, publicPem, problem;
        MakeKeyPair(privatePem, publicPem, problem);
        SignBytes(privatePem, s.package.data(), s.package.size(), s.signature, problem);
        const auto dir = std::filesystem::temp_directory_path();
        const std::string key = (dir / "tolvane-bench-key.pem").string();
        std::ofstream(key) << publicPem;
        s.keys = LoadTrustedKeys({}, {key});
        s.path = (dir / "tolvane-bench.enc2").string();
        std::ofstream(s.path, std::ios::binary)
            .write(reinterpret_cast<const char*>(s.package.data()), long(s.package.size()));
        std::ofstream(s.path + ".sig", std::ios::binary)
            .write(reinterpret_cast<const char*>(s.signature.data()), long(s.signature.size()));
        return s;
    }();
    return fixture;
}

void BM_VerifySignature(benchmark::State& state) {
    const Signed& s = Fixture();
    for (auto _ : state) {
        const SignatureCheck check =
            CheckSignature(s.package.data(), s.package.size(), s.signature, s.keys);
        if (check.Outcome != SignatureOutcome::Valid) state.SkipWithError("not valid");
        benchmark::DoNotOptimize(check);
    }
}
BENCHMARK(BM_VerifySignature)->Unit(benchmark::kMicrosecond);

void BM_LoadPackage(benchmark::State& state) {
    const Signed& s = Fixture();
    auto package = std::make_unique<FirmwarePackageData>();
    const bool withKeys = state.range(0) != 0;
    const TrustedKeys none;
    for (auto _ : state) {
        const PackageCheck check = LoadPackage(s.path, *package, withKeys ? &s.keys : &none);
        if (check.Outcome != PackageLoadOutcome::Loaded) state.SkipWithError("not loaded");
    }
}
BENCHMARK(BM_LoadPackage)->ArgName("signed")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
