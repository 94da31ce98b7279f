#include "tools/pack/SignCommands.h"

#include "base/FileAccess.h"
#include "package/Signature.h"
#include "package/SignatureMaker.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace pack {

namespace {

namespace fs = std::filesystem;

constexpr int kExitBadSignature = 1;
constexpr int kExitUsage = 2;

int Fail(const std::string& problem) {
    std::fprintf(stderr, "tolvane-pack: %s\n", problem.c_str());
    return kExitUsage;
}

bool ReadBytes(const std::string& path, std::vector<uint8_t>& out) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Writes a file (a public key, a signature), replacing one of that name.
bool WriteWholeFile(const std::string& path, const std::string& text) {
    std::ofstream out(PathFromUtf8(path), std::ios::binary | std::ios::trunc);
    out.write(text.data(), std::streamsize(text.size()));
    return bool(out.flush());
}

int Keygen(const std::string& privatePath, const std::string& publicPath) {
    for (const std::string& path : {privatePath, publicPath}) {
        std::error_code error;
        if (fs::exists(PathFromUtf8(path), error))
            return Fail(path + " exists already; a key is never overwritten");
    }
    std::string privatePem, publicPem, problem;
    if (!MakeKeyPair(privatePem, publicPem, problem)) return Fail(problem);
    if (!WriteOwnerOnlyFile(privatePath, privatePem)) return Fail("cannot write " + privatePath);
    if (!WriteWholeFile(publicPath, publicPem)) return Fail("cannot write " + publicPath);
    TrustedKey key;
    if (!ReadPublicKey(publicPath, key, problem)) return Fail(publicPath + ": " + problem);
    std::printf("%s: private key (readable by you only; keep it off shared folders)\n"
                "%s: public key, fingerprint %s (give this one out)\n",
                privatePath.c_str(), publicPath.c_str(), key.Fingerprint.c_str());
    return 0;
}

int Sign(const std::string& keyPath, const std::string& packagePath) {
    std::vector<uint8_t> bytes;
    if (!ReadBytes(packagePath, bytes)) return Fail("cannot read " + packagePath);
    std::string problem;
    if (!WriteSignature(keyPath, packagePath, bytes, problem)) return Fail(problem);
    std::printf("%s: written\n", SignaturePath(packagePath).c_str());
    return 0;
}

int Verify(const std::string& keyPath, const std::string& packagePath) {
    const TrustedKeys keys = LoadTrustedKeys({}, {keyPath});
    if (keys.Keys.empty()) return Fail(keyPath + ": " + keys.Problems.front().Reason);
    std::vector<uint8_t> bytes;
    if (!ReadBytes(packagePath, bytes)) return Fail("cannot read " + packagePath);
    const SignatureCheck check =
        CheckPackageSignature(packagePath, bytes.data(), bytes.size(), keys);
    if (check.Outcome == SignatureOutcome::Valid) {
        std::printf("%s: signature valid, by %s (%s)\n", packagePath.c_str(), check.KeyName.c_str(),
                    check.Fingerprint.c_str());
        return 0;
    }
    std::fprintf(stderr, "tolvane-pack: %s: signature refused: %s\n", packagePath.c_str(),
                 check.Detail.c_str());
    return check.Outcome == SignatureOutcome::Unreadable ? kExitUsage : kExitBadSignature;
}

} // namespace

bool IsSignCommand(const std::string& command) {
    return command == "keygen" || command == "sign" || command == "verify";
}

bool WriteSignature(const std::string& privateKeyPath, const std::string& packagePath,
                    const std::vector<uint8_t>& bytes, std::string& problem) {
    std::vector<uint8_t> key;
    if (!ReadBytes(privateKeyPath, key)) {
        problem = "cannot read " + privateKeyPath;
        return false;
    }
    std::vector<uint8_t> signature;
    if (!SignBytes(std::string(key.begin(), key.end()), bytes.data(), bytes.size(), signature,
                   problem)) {
        problem = privateKeyPath + ": " + problem;
        return false;
    }
    const std::string path = SignaturePath(packagePath);
    if (!WriteWholeFile(path, std::string(signature.begin(), signature.end()))) {
        problem = "cannot write " + path;
        return false;
    }
    return true;
}

int RunSignCommand(const std::vector<std::string>& args) {
    const std::string command = args.front();
    CLI::App app(command == "keygen" ? "Makes a new signing key pair (EC P-256, PEM)."
                 : command == "sign" ? "Signs PACKAGE into PACKAGE.sig."
                                     : "Checks PACKAGE.sig against a public key.",
                 "tolvane-pack " + command);
    app.allow_windows_style_options(false);
    std::string key, first, second;
    if (command == "keygen") {
        app.add_option("PRIVATE", first, "the private key to write (PRIVATE.pem)")->required();
        app.add_option("PUBLIC", second, "the public key to write (PUBLIC.pem)")->required();
    } else {
        app.add_option("--key", key,
                       command == "sign" ? "the private key (PEM)" : "the public key (PEM)")
            ->required()
            ->option_text("KEY.pem");
        app.add_option("PACKAGE", first, "the package")->required();
    }
    std::vector<std::string> rest(args.begin() + 1, args.end());
    std::reverse(rest.begin(), rest.end()); // CLI11 takes them last first
    try {
        app.parse(rest);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "tolvane-pack %s: %s\nRun \"tolvane-pack %s --help\" for its usage.\n",
                     command.c_str(), e.what(), command.c_str());
        return kExitUsage;
    }
    if (command == "keygen") return Keygen(first, second);
    return command == "sign" ? Sign(key, first) : Verify(key, first);
}

} // namespace pack
