// What a screen reader hears for each control, read through Qt's accessibility interfaces.
#include "WindowFixture.h"

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "app/StatusLine.h"

namespace {

QString AccessibleName(QWidget* control) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(control);
    return face ? face->text(QAccessible::Name) : QStringLiteral("<no interface>");
}

// The label a screen reader names the control by (Qt on Linux names a drop-down list by its
// current item and points at its label through a relation).
QLabel* LabelOf(QWidget* control) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(control);
    for (const auto& relation : face->relations(QAccessible::Label))
        if (auto* label = qobject_cast<QLabel*>(relation.first->object())) return label;
    return nullptr;
}

TEST_F(WindowTest, EveryControlHasItsOwnAccessibleName) {
    Create(); // no Config.ini: the mode boxes have no selection
    const struct {
        QWidget* control;
        const char* name; // with nothing chosen in a drop-down list
        QLabel* label;
    } cases[] = {
        {Q(form->GroupBox1), "串口参数", nullptr},
        {Q(form->RzComboBox1), "串口", Q(form->RzLabel1)},
        {Q(form->RzComboBox2), "波特率", Q(form->RzLabel2)},
        {Q(form->RzComboBox4), "数据位", Q(form->RzLabel3)},
        {Q(form->RzComboBox3), "校验位", Q(form->RzLabel5)},
        {Q(form->RzComboBox5), "停止位", Q(form->RzLabel6)},
        {Q(form->RzBitBtn1), "打开串口", nullptr},
        {Q(form->RzComboBox6), "工作时 波特率", Q(form->RzLabel10)},
        {Q(form->RzComboBox8), "工作时 校验位", Q(form->RzLabel12)},
        {Q(form->RzComboBox7), "升级时 波特率", Q(form->RzLabel13)},
        {Q(form->RzComboBox9), "升级时 校验位", Q(form->RzLabel16)},
        {Q(form->RzComboBox9)->lineEdit(), "升级时 校验位", nullptr},
        {Q(form->GroupBox2), "固件升级", nullptr},
        {Q(form->RzEdit1), "固件选取", Q(form->RzLabel7)},
        {Q(form->RzButton1), "选择", nullptr},
        {Q(form->GroupBox3), "固件信息", nullptr},
        {Q(form->RzMemo1), "固件信息", nullptr},
        {Q(form->RzButton2), "查询版本号", nullptr},
        {Q(form->RzButton3), "开始升级", nullptr},
        {Q(form->RzProgressBar1), "升级进度", Q(form->RzLabel8)},
        {Q(form->RzStatusPane3), "状态", nullptr},
        {Q(form->SPTx), "发送计数：0 bytes sent", nullptr},
        {Q(form->SPRx), "接收计数：0 bytes received", nullptr},
        {Q(form->LEDActive), "串口打开指示灯：灭", nullptr},
        {Q(form->LEDTx), "发送指示灯：灭", nullptr},
        {Q(form->LEDRx), "接收指示灯：灭", nullptr},
    };
    for (QComboBox* box : Q(form)->findChildren<QComboBox*>())
        box->setCurrentIndex(-1);
    for (const auto& c : cases) {
        EXPECT_EQ(LabelOf(c.control), c.label) << c.control->objectName().toStdString();
        EXPECT_EQ(AccessibleName(c.control), QString::fromUtf8(c.name))
            << c.control->objectName().toStdString();
    }
}

TEST_F(WindowTest, StatusBarNamesFollowWhatItShows) {
    Create();
    const struct {
        int lamp;
        QLabel* control;
        const char* lit;
        const char* dark;
    } lamps[] = {
        {kLampActive, Q(form->LEDActive), "串口打开指示灯：亮", "串口打开指示灯：灭"},
        {kLampTx, Q(form->LEDTx), "发送指示灯：亮", "发送指示灯：灭"},
        {kLampRx, Q(form->LEDRx), "接收指示灯：亮", "接收指示灯：灭"},
    };
    for (const auto& l : lamps) {
        LampOn(l.lamp);
        EXPECT_EQ(AccessibleName(l.control), QString::fromUtf8(l.lit));
        LampOff(l.lamp);
        EXPECT_EQ(AccessibleName(l.control), QString::fromUtf8(l.dark));
    }
    ShowStatus("收到应答");
    EXPECT_EQ(AccessibleName(Q(form->RzStatusPane3)), QStringLiteral("状态：收到应答"));
    form->MsgTimer1Timer();
    EXPECT_EQ(AccessibleName(Q(form->RzStatusPane3)), QStringLiteral("状态"));
    BytesSent += 14;
    UpdateByteCounters();
    EXPECT_EQ(AccessibleName(Q(form->SPTx)),
              QString::number(BytesSent).prepend(QStringLiteral("发送计数：")) +
                  QStringLiteral(" bytes sent"));
    BytesSent -= 14;
    UpdateByteCounters();
}

} // namespace
