// The package chooser of the window: "选择" loads a ".enc2" package and describes it.

#include "app/MainForm.h"
#include "app/PackageView.h"
#include "app/PortSettings.h"
#include "app/StatusLine.h"
#include "app/UserDialogs.h"
#include "base/FileAccess.h"
#include "package/FirmwarePackage.h"

namespace {

// The trusted keys beside Config.ini, read at every choice so that a key put there counts at once.
TrustedKeys WindowTrustedKeys() {
    const std::u8string folder =
        (PathFromUtf8(ConfigIniPath()).parent_path() / kTrustedKeysFolderName).u8string();
    return LoadTrustedKeys(std::string(folder.begin(), folder.end()), {});
}

} // namespace

void TMForm::RzButton1Click() {
    const std::string path = ChooseOpenFile("*.enc2");
    if (path.empty()) return;
    FirmwarePackage.ClearKind();
    RzEdit1->SetText(path);
    ShowStatus("选取文件：" + RzEdit1->Text());

    const TrustedKeys trust = WindowTrustedKeys();
    const PackageView result = ViewOfPackage(LoadPackage(RzEdit1->Text(), FirmwarePackage, &trust));
    if (!result.MessageBoxText.empty()) ShowMessageBox(result.MessageBoxText);
    if (result.ClearPath) RzEdit1->SetText({});
    if (result.ReplaceMemo) {
        RzMemo1->Clear();
        for (const std::string& line : result.MemoLines)
            RzMemo1->AppendLine(line);
        for (const KeyProblem& problem : trust.Problems) {
            const std::u8string name = PathFromUtf8(problem.File).filename().u8string();
            RzMemo1->AppendLine("已忽略无效的密钥文件：" + std::string(name.begin(), name.end()));
        }
    }
}
