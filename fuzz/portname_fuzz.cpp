// Odd port names and odd port-map folders: the port-name readings stay within their rules and
// agree where they overlap, and the port-map reader copes with any names, links to nowhere,
// loops and non-links.
#include "fuzz/FuzzCheck.h"
#include "serial/PortMap.h"
#include "serial/PortName.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

void CheckParse(std::string text) {
    const std::string original = text;
    const int number = ParsePortName(text);
    Check(text.size() == original.size(), "upper-casing keeps the length");
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = original[i];
        Check(text[i] == ((c >= 'a' && c <= 'z') ? char(c - 32) : c), "only a-z upper-cased");
    }
    if (text.rfind("COM", 0) != 0) {
        Check(number == -1, "not a port name");
    } else {
        Check(number >= 0 && number <= 999, "at most three digits read");
    }
}

// The rule: a name it accepts is the canonical spelling in some letter case, and every reading
// gives the same number for it.
void CheckRule(const std::string& text) {
    const int number = ComPortNumber(text);
    const int capitals = ComPortNumber(text, LetterCase::Capitals);
    std::string upper = text;
    const int item = ParsePortName(upper);
    if (number == 0) {
        Check(capitals == 0, "capitals are a narrower rule");
        return;
    }
    Check(number >= 1 && number <= MaxPortNumber, "port numbers in range");
    Check(upper == ComPortName(number), "the canonical spelling, in some letter case");
    Check(capitals == (text == upper ? number : 0), "capitals only when spelt so");
    Check(item == number, "the combo box reads it alike");
    Check(SerialCommNumber(text) == number, "the registry reads it alike");
}

void CheckSerialComm(const std::string& text) {
    const int number = SerialCommNumber(text);
    if (number < 0) return;
    Check(number <= 9999, "at most four digits read");
    Check(text.size() >= 4 && text.size() <= 7, "three characters and one to four digits");
    Check(text.find_first_not_of("0123456789", 3) == std::string::npos, "only digits after three");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckParse(text);
    CheckRule(text);
    CheckSerialComm(text);

    // The rest builds a port-map folder: each entry is a length-prefixed name and a kind byte.
    const fs::path dir = ScratchFolder("portmap_fuzz");
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir, ec);
    size_t i = 0;
    int entries = 0;
    while (i + 2 <= size && entries < 16) {
        const size_t len = data[i] % 12;
        const uint8_t kind = data[i + 1];
        i += 2;
        if (i + len > size) break;
        std::string name(reinterpret_cast<const char*>(data + i), len);
        i += len;
        ++entries;
        if (name.empty() || name.find('/') != std::string::npos ||
            name.find('\0') != std::string::npos || name == "." || name == "..")
            continue;
        const fs::path entry = dir / name;
        switch (kind % 6) {
        case 0:
            fs::create_symlink("/dev/null", entry, ec);
            break; // a char device
        case 1:
            fs::create_symlink(dir / "nowhere", entry, ec);
            break; // dangling
        case 2:
            fs::create_symlink(entry, entry, ec);
            break; // loop on itself
        case 3:
            fs::create_symlink(dir / ("COM" + std::to_string(kind % 5)), entry, ec);
            break;
        case 4:
            fs::create_directory(entry, ec);
            break; // not a link
        case 5: {
            FILE* f = std::fopen(entry.c_str(), "w");
            if (f) std::fclose(f);
            break;
        }
        }
    }
    SetPortMapFolder(dir.string());
    const std::vector<int> present = PresentPortNumbers();
    for (size_t k = 0; k < present.size(); ++k) {
        Check(present[k] >= 1 && present[k] <= 256, "port numbers in range");
        Check(k == 0 || present[k - 1] < present[k], "ascending without duplicates");
        Check(!PortDevicePath(present[k]).empty(), "a present port has a device");
    }
    SetPortMapFolder("");
    return 0;
}
