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
        {form->GroupBox1, "串口参数", nullptr},
        {form->RzComboBox1, "串口", form->RzLabel1},
        {form->RzComboBox2, "波特率", form->RzLabel2},
        {form->RzComboBox4, "数据位", form->RzLabel3},
        {form->RzComboBox3, "校验位", form->RzLabel5},
        {form->RzComboBox5, "停止位", form->RzLabel6},
        {form->RzBitBtn1, "打开串口", nullptr},
        {form->RzComboBox6, "工作时 波特率", form->RzLabel10},
        {form->RzComboBox8, "工作时 校验位", form->RzLabel12},
        {form->RzComboBox7, "升级时 波特率", form->RzLabel13},
        {form->RzComboBox9, "升级时 校验位", form->RzLabel16},
        {form->RzComboBox9->lineEdit(), "升级时 校验位", nullptr},
        {form->GroupBox2, "固件升级", nullptr},
        {form->RzEdit1, "固件选取", form->RzLabel7},
        {form->RzButton1, "选择", nullptr},
        {form->GroupBox3, "固件信息", nullptr},
        {form->RzMemo1, "固件信息", nullptr},
        {form->RzButton2, "查询版本号", nullptr},
        {form->RzButton3, "开始升级", nullptr},
        {form->RzProgressBar1, "升级进度", form->RzLabel8},
        {form->RzStatusPane3, "状态", nullptr},
        {form->SPTx, "发送计数：0 bytes sent", nullptr},
        {form->SPRx, "接收计数：0 bytes received", nullptr},
        {form->LEDActive, "串口打开指示灯：灭", nullptr},
        {form->LEDTx, "发送指示灯：灭", nullptr},
        {form->LEDRx, "接收指示灯：灭", nullptr},
    };
    for (QComboBox* box : form->findChildren<QComboBox*>())
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
        {kLampActive, form->LEDActive, "串口打开指示灯：亮", "串口打开指示灯：灭"},
        {kLampTx, form->LEDTx, "发送指示灯：亮", "发送指示灯：灭"},
        {kLampRx, form->LEDRx, "接收指示灯：亮", "接收指示灯：灭"},
    };
    for (const auto& l : lamps) {
        LampOn(l.lamp);
        EXPECT_EQ(AccessibleName(l.control), QString::fromUtf8(l.lit));
        LampOff(l.lamp);
        EXPECT_EQ(AccessibleName(l.control), QString::fromUtf8(l.dark));
    }
    ShowStatus(QStringLiteral("收到应答"));
    EXPECT_EQ(AccessibleName(form->RzStatusPane3), QStringLiteral("状态：收到应答"));
    form->MsgTimer1Timer();
    EXPECT_EQ(AccessibleName(form->RzStatusPane3), QStringLiteral("状态"));
    BytesSent += 14;
    UpdateByteCounters();
    EXPECT_EQ(AccessibleName(form->SPTx),
              QString::number(BytesSent).prepend(QStringLiteral("发送计数：")) +
                  QStringLiteral(" bytes sent"));
    BytesSent -= 14;
    UpdateByteCounters();
}

} // namespace
