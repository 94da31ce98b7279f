#include "app/PackageView.h"

#include "package/PackageText.h"

PackageView ViewOfPackage(const PackageCheck& check) {
    PackageView view;
    view.Outcome = check.Outcome;
    const PackageRefusal refusal = RefusalOf(check);
    switch (check.Outcome) {
    case PackageLoadOutcome::TooLarge:
    case PackageLoadOutcome::SizeError:
        view.MessageBoxText = RefusalText(refusal);
        view.ClearPath = true;
        break;
    case PackageLoadOutcome::SignatureRefused:
        // Refused in a message box; the path and memo as for a failed checksum.
        view.MessageBoxText = RefusalText(refusal);
        view.ReplaceMemo = true;
        view.MemoLines.push_back(RefusalText(refusal));
        break;
    case PackageLoadOutcome::FormatError:
    case PackageLoadOutcome::ChecksumError:
        view.ReplaceMemo = true;
        view.MemoLines.push_back(RefusalText(refusal));
        break;
    case PackageLoadOutcome::Loaded:
        // Kind 0 is listed as any package; the upgrade run refuses it when started.
        view.ReplaceMemo = true;
        view.MemoLines = PackageDescription(check);
        view.Md5 = check.Md5;
        break;
    }
    return view;
}
