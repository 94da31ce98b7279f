// The package chooser of the window: "选择" loads a ".enc2" package and describes it.

#include <QFile>

#include "app/MainForm.h"
#include "app/StatusLine.h"
#include "app/UserDialogs.h"
#include "package/FirmwarePackage.h"

void TMForm::RzButton1Click() {
    const QString path = ChooseOpenFile(this, QStringLiteral("*.enc2"));
    if (path.isEmpty()) return;
    FirmwarePackage.ClearKind();
    RzEdit1->setText(path);
    ShowStatus(QStringLiteral("选取文件：") + RzEdit1->text());

    const PackageLoadResult result =
        LoadPackage(QFile::encodeName(RzEdit1->text()).toStdString(), FirmwarePackage);
    if (!result.MessageBoxText.empty())
        ShowMessageBox(QString::fromStdString(result.MessageBoxText));
    if (result.ClearPath) RzEdit1->clear();
    if (result.ReplaceMemo) {
        RzMemo1->clear();
        for (const std::string& line : result.MemoLines)
            RzMemo1->appendPlainText(QString::fromStdString(line));
    }
}
