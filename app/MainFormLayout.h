#pragma once
// The main window's layout: every control once, with its kind, parent, position (pixels in the
// parent's client area), caption, whether it starts hidden and its place in the tab order.
// A parent named TMForm is the window itself. Parents come before their children; siblings are
// listed in painting order. Both toolkits build the window from this table, and TMForm names its
// members after it.
// clang-format off
//  X(kind,        name,           parent,       left, top, width, height, caption,      hidden, tab)
#define TMFORM_CONTROLS(X) \
    X(StatusBar,   RzStatusBar1,   TMForm,       0,   231, 752, 19,  "",              false, 0)  \
    X(StatusPane,  RzStatusPane3,  RzStatusBar1, 0,   0,   401, 19,  "",              false, 0)  \
    X(StatusPane,  SPTx,           RzStatusBar1, 401, 0,   144, 19,  "",              false, 0)  \
    X(StatusPane,  SPRx,           RzStatusBar1, 545, 0,   144, 19,  "",              false, 0)  \
    X(Image,       LEDActive,      RzStatusBar1, 695, 1,   16,  16,  "",              false, 0)  \
    X(Image,       LEDTx,          RzStatusBar1, 713, 1,   16,  16,  "",              false, 0)  \
    X(Image,       LEDRx,          RzStatusBar1, 731, 1,   16,  16,  "",              false, 0)  \
    X(GroupBox,    GroupBox1,      TMForm,       4,   0,   309, 225, "串口参数",      false, 0)  \
    X(Label,       RzLabel1,       GroupBox1,    8,   32,  48,  13,  "串    口：",    false, 0)  \
    X(ComboBox,    RzComboBox1,    GroupBox1,    56,  27,  89,  21,  "",              false, 1)  \
    X(Label,       RzLabel2,       GroupBox1,    8,   56,  48,  13,  "波特率：",      false, 0)  \
    X(ComboBox,    RzComboBox2,    GroupBox1,    56,  52,  89,  21,  "",              false, 2)  \
    X(Label,       RzLabel3,       GroupBox1,    8,   80,  48,  13,  "数据位：",      false, 0)  \
    X(ComboBox,    RzComboBox4,    GroupBox1,    56,  77,  89,  21,  "",              false, 3)  \
    X(Label,       RzLabel5,       GroupBox1,    8,   104, 48,  13,  "校验位：",      false, 0)  \
    X(ComboBox,    RzComboBox3,    GroupBox1,    56,  101, 89,  21,  "",              false, 4)  \
    X(Label,       RzLabel6,       GroupBox1,    8,   128, 48,  13,  "停止位：",      false, 0)  \
    X(ComboBox,    RzComboBox5,    GroupBox1,    56,  126, 89,  21,  "",              false, 5)  \
    X(GlyphButton, RzBitBtn1,      GroupBox1,    44,  160, 93,  25,  "打开串口",      false, 6)  \
    X(Label,       RzLabel14,      GroupBox1,    160, 10,  48,  13,  "升级时：",      false, 0)  \
    X(Label,       RzLabel13,      GroupBox1,    160, 32,  48,  13,  "波特率：",      false, 0)  \
    X(EditCombo,   RzComboBox7,    GroupBox1,    208, 27,  89,  21,  "",              false, 9)  \
    X(Label,       RzLabel16,      GroupBox1,    160, 56,  48,  13,  "校验位：",      false, 0)  \
    X(EditCombo,   RzComboBox9,    GroupBox1,    208, 52,  89,  21,  "",              false, 10) \
    X(Label,       RzLabel15,      GroupBox1,    160, 80,  48,  13,  "工作时：",      false, 0)  \
    X(Label,       RzLabel10,      GroupBox1,    160, 104, 48,  13,  "波特率：",      false, 0)  \
    X(EditCombo,   RzComboBox6,    GroupBox1,    208, 101, 89,  21,  "",              false, 7)  \
    X(Label,       RzLabel12,      GroupBox1,    160, 128, 48,  13,  "校验位：",      false, 0)  \
    X(EditCombo,   RzComboBox8,    GroupBox1,    208, 126, 89,  21,  "",              false, 8)  \
    X(GroupBox,    GroupBox2,      TMForm,       320, 0,   425, 225, "固件升级",      false, 0)  \
    X(Label,       RzLabel7,       GroupBox2,    16,  18,  60,  13,  "固件选取：",    false, 0)  \
    X(Edit,        RzEdit1,        GroupBox2,    77,  14,  276, 21,  "",              false, 11) \
    X(Button,      RzButton1,      GroupBox2,    360, 15,  49,  19,  "选择",          false, 12) \
    X(GroupBox,    GroupBox3,      GroupBox2,    12,  40,  397, 105, "固件信息",      false, 0)  \
    X(Memo,        RzMemo1,        GroupBox3,    10,  15,  377, 84,  "",              false, 13) \
    X(Button,      RzButton2,      GroupBox2,    16,  150, 81,  27,  "查询版本号",    false, 14) \
    X(Button,      RzButton3,      GroupBox2,    16,  182, 81,  27,  "开始升级",      false, 15) \
    X(Label,       RzLabel9,       GroupBox2,    208, 154, 105, 23,  "升级结果",      true,  0)  \
    X(Label,       RzLabel8,       GroupBox2,    104, 189, 60,  13,  "升级进度：",    true,  0)  \
    X(ProgressBar, RzProgressBar1, GroupBox2,    168, 187, 241, 17,  "",              true,  0)
// clang-format on

#include "toolkit/Toolkit.h"

// The client area: 752 x 250, fixed.
extern const tk::FormLayout MainFormLayout;

// The toolkit interface behind each kind of control.
namespace tk::kind {
using StatusBar = tk::Control;
using StatusPane = tk::Label;
using Image = tk::Image;
using GroupBox = tk::GroupBox;
using Label = tk::Label;
using ComboBox = tk::ComboBox;
using EditCombo = tk::ComboBox;
using GlyphButton = tk::Button;
using Button = tk::Button;
using Edit = tk::Edit;
using Memo = tk::Memo;
using ProgressBar = tk::ProgressBar;
} // namespace tk::kind
