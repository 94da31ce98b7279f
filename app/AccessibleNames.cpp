#include "app/AccessibleNames.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QString>

#include "app/MainForm.h"

namespace {

// The label's text as a name: without the blanks that space its characters and the closing
// colon ("串    口：" is announced as "串口").
QString LabelName(const QLabel* label) {
    QString text = label->text();
    text.remove(QLatin1Char(' '));
    if (text.endsWith(QChar(0xFF1A))) text.chop(1);
    return text;
}

// What each status-bar control shows, by control name.
QString StatusCaption(const QLabel* control) {
    const QString name = control->objectName();
    if (name == QLatin1String("RzStatusPane3")) return QStringLiteral("状态");
    if (name == QLatin1String("SPTx")) return QStringLiteral("发送计数");
    if (name == QLatin1String("SPRx")) return QStringLiteral("接收计数");
    if (name == QLatin1String("LEDActive")) return QStringLiteral("串口打开指示灯");
    if (name == QLatin1String("LEDTx")) return QStringLiteral("发送指示灯");
    if (name == QLatin1String("LEDRx")) return QStringLiteral("接收指示灯");
    return {};
}

QString WithDetail(const QString& caption, const QString& detail) {
    return detail.isEmpty() ? caption : caption + QChar(0xFF1A) + detail;
}

} // namespace

void SetUpAccessibleNames(TMForm* f) {
    const struct {
        QLabel* label;
        QWidget* control;
        QLabel* heading; // the mode boxes repeat their labels under two headings
    } buddies[] = {
        {f->RzLabel1, f->RzComboBox1, nullptr},       {f->RzLabel2, f->RzComboBox2, nullptr},
        {f->RzLabel3, f->RzComboBox4, nullptr},       {f->RzLabel5, f->RzComboBox3, nullptr},
        {f->RzLabel6, f->RzComboBox5, nullptr},       {f->RzLabel13, f->RzComboBox7, f->RzLabel14},
        {f->RzLabel16, f->RzComboBox9, f->RzLabel14}, {f->RzLabel10, f->RzComboBox6, f->RzLabel15},
        {f->RzLabel12, f->RzComboBox8, f->RzLabel15}, {f->RzLabel7, f->RzEdit1, nullptr},
        {f->RzLabel8, f->RzProgressBar1, nullptr},
    };
    for (const auto& b : buddies) {
        b.label->setBuddy(b.control);
        const QString name = b.heading
                                 ? LabelName(b.heading) + QLatin1Char(' ') + LabelName(b.label)
                                 : LabelName(b.label);
        b.control->setAccessibleName(name);
        // The text field of an editable list takes the focus, so it needs the name as well.
        if (auto* box = qobject_cast<QComboBox*>(b.control); box && box->lineEdit())
            box->lineEdit()->setAccessibleName(name);
    }
    f->RzMemo1->setAccessibleName(f->GroupBox3->title());
    for (QGroupBox* group : {f->GroupBox1, f->GroupBox2, f->GroupBox3})
        group->setAccessibleName(group->title());
    f->RzStatusBar1->setAccessibleName(QStringLiteral("状态栏"));
    for (QLabel* pane : {f->RzStatusPane3, f->SPTx, f->SPRx})
        SetPaneText(pane, pane->text());
    // The lamps are named when they are first put out (InitLamps).
}

void SetPaneText(QLabel* pane, const QString& text) {
    pane->setText(text);
    pane->setAccessibleName(WithDetail(StatusCaption(pane), text));
}

void NameLamp(QLabel* lamp, bool lit) {
    lamp->setAccessibleName(
        WithDetail(StatusCaption(lamp), lit ? QStringLiteral("亮") : QStringLiteral("灭")));
}
