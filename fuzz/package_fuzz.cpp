// Arbitrary file bytes through the package loader: no crash, no read or write past a buffer, and
// a package is only ever accepted when it is one the upgrade can send.
#include "fuzz/FuzzCheck.h"
#include "app/PackageView.h"
#include "package/FirmwarePackage.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {
FirmwarePackageData Loaded;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An anonymous in-memory file, reachable by path like any file the user picks.
    int fd = memfd_create("package", 0);
    if (fd < 0) return 0;
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) break;
        done += size_t(n);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const PackageView result = ViewOfPackage(LoadPackage(path, Loaded));
    close(fd);

    switch (result.Outcome) {
    case PackageLoadOutcome::Loaded: {
        const uint32_t expected = uint32_t(Loaded.BlockSize()) * Loaded.BlockCount() + 113;
        Check(expected == size, "accepted size matches the header");
        Check(Loaded.BlockSize() % 8 == 0 && Loaded.BlockSize() <= kPackageMaxBlockSize,
              "accepted block size can be framed");
        Check(!result.MemoLines.empty() && result.MemoLines.size() <= 3, "memo lines on success");
        Check(!result.ClearPath && result.MessageBoxText.empty(), "success shows no message");
        break;
    }
    case PackageLoadOutcome::TooLarge:
        Check(size > 65535, "too large only above 65535 bytes");
        Check(Loaded.Kind() == 0 && result.ClearPath, "refused package is unusable");
        break;
    case PackageLoadOutcome::SizeError:
        Check(size < 109, "size error only below 109 bytes for a readable file");
        Check(Loaded.Kind() == 0 && result.ClearPath, "refused package is unusable");
        break;
    case PackageLoadOutcome::SignatureRefused: // no key is trusted here
        Check(false, "a signature refused without trusted keys");
        break;
    case PackageLoadOutcome::FormatError:
    case PackageLoadOutcome::ChecksumError:
        Check(Loaded.Kind() == 0 && !result.ClearPath, "failed check keeps the path, no package");
        Check(result.MemoLines.size() == 1, "one memo line for a failed check");
        break;
    }
    return 0;
}
