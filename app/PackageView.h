#pragma once
// What the window shows for a package check: a size failure in a message box with the path
// field emptied, a failed check as the memo's one line, a loaded package described in the memo.
// Qt-free, so the loader's tests check the window's texts too.
#include "package/FirmwarePackage.h"

#include <string>
#include <vector>

struct PackageView {
    PackageLoadOutcome Outcome = PackageLoadOutcome::SizeError;
    std::string MessageBoxText; // empty: no message box
    bool ClearPath = false;
    // When true the memo is cleared and then gets MemoLines; when false it stays as it was.
    bool ReplaceMemo = false;
    std::vector<std::string> MemoLines; // UTF-8
    std::string Md5;                    // as the digest line shows it; empty unless loaded
};

PackageView ViewOfPackage(const PackageCheck& check);
