// The package chooser of the window: "选择" loads a ".enc2" package and describes it.

#include "app/MainForm.h"
#include "app/StatusLine.h"
#include "app/UserDialogs.h"
#include "package/FirmwarePackage.h"

void TMForm::RzButton1Click() {
    const std::string path = ChooseOpenFile("*.enc2");
    if (path.empty()) return;
    FirmwarePackage.ClearKind();
    RzEdit1->SetText(path);
    ShowStatus("选取文件：" + RzEdit1->Text());

    const PackageLoadResult result = LoadPackage(RzEdit1->Text(), FirmwarePackage);
    if (!result.MessageBoxText.empty()) ShowMessageBox(result.MessageBoxText);
    if (result.ClearPath) RzEdit1->SetText({});
    if (result.ReplaceMemo) {
        RzMemo1->Clear();
        for (const std::string& line : result.MemoLines)
            RzMemo1->AppendLine(line);
    }
}
