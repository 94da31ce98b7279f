// The main window as built: layout, status line, counters, lamps, exceptions.
#include "WindowFixture.h"

#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QTest>
#include <stdexcept>

#include "app/Application.h"
#include "app/StatusLine.h"

namespace {

bool SameImage(const QPixmap& a, const QPixmap& b) {
    return !a.isNull() && a.toImage().convertToFormat(QImage::Format_ARGB32) ==
                              b.toImage().convertToFormat(QImage::Format_ARGB32);
}

TEST_F(WindowTest, ControlsHaveTheirCaptionsAndFitThem) {
    Create();
    EXPECT_EQ(Q(form)->windowTitle(), QStringLiteral("Tolvane 3.2.0.0"));
    const struct {
        QWidget* control;
        const char* caption;
    } cases[] = {
        {Q(form->GroupBox1), "串口参数"},  {Q(form->RzLabel1), "串    口："},
        {Q(form->RzLabel2), "波特率："},   {Q(form->RzLabel3), "数据位："},
        {Q(form->RzLabel5), "校验位："},   {Q(form->RzLabel6), "停止位："},
        {Q(form->RzBitBtn1), "打开串口"},  {Q(form->RzLabel14), "升级时："},
        {Q(form->RzLabel13), "波特率："},  {Q(form->RzLabel16), "校验位："},
        {Q(form->RzLabel15), "工作时："},  {Q(form->RzLabel10), "波特率："},
        {Q(form->RzLabel12), "校验位："},  {Q(form->GroupBox2), "固件升级"},
        {Q(form->RzLabel7), "固件选取："}, {Q(form->RzButton1), "选择"},
        {Q(form->GroupBox3), "固件信息"},  {Q(form->RzButton2), "查询版本号"},
        {Q(form->RzButton3), "开始升级"},  {Q(form->RzLabel9), "升级结果"},
        {Q(form->RzLabel8), "升级进度："},
    };
    for (const auto& c : cases) {
        const QString expected = QString::fromUtf8(c.caption);
        QString text;
        int room = c.control->width();
        if (auto* label = qobject_cast<QLabel*>(c.control))
            text = label->text();
        else if (auto* button = qobject_cast<QPushButton*>(c.control)) {
            text = button->text();
            room -= 8 + (button->icon().isNull() ? 0 : 20);
        } else if (auto* box = qobject_cast<QGroupBox*>(c.control))
            text = box->title();
        EXPECT_EQ(text, expected) << c.control->objectName().toStdString();
        // What is drawn must lie inside the control (trailing blank space may not).
        EXPECT_LE(c.control->fontMetrics().tightBoundingRect(text).right(), room)
            << c.control->objectName().toStdString() << " does not fit its caption";
        EXPECT_LE(c.control->fontMetrics().height(), c.control->height() + 2)
            << c.control->objectName().toStdString();
    }
    EXPECT_TRUE(Q(form->RzEdit1)->text().isEmpty());
    EXPECT_TRUE(Q(form->RzMemo1)->toPlainText().isEmpty());
    EXPECT_TRUE(Q(form->RzMemo1)->isReadOnly());
    EXPECT_EQ(Q(form->RzMemo1)->palette().color(QPalette::Base),
              Q(form->RzMemo1)->palette().color(QPalette::HighlightedText));
    EXPECT_EQ(Q(form->RzLabel14)->palette().color(QPalette::WindowText), QColor(Qt::blue));
    EXPECT_EQ(Q(form->RzLabel15)->palette().color(QPalette::WindowText), QColor(Qt::blue));
    EXPECT_EQ(Q(form->RzLabel9)->font().pixelSize(), 20);
    EXPECT_TRUE(Q(form->RzLabel9)->font().bold());
    EXPECT_EQ(Q(form->RzLabel9)->font().families().value(0), QStringLiteral("宋体"));
    EXPECT_EQ(form->RzButton3->Tag, 0);
}

TEST_F(WindowTest, LayoutPositionsHiddenStatesAndTabOrder) {
    Create();
    EXPECT_EQ(Q(form)->size(), QSize(752, 250));
    EXPECT_EQ(Q(form)->minimumSize(), Q(form)->maximumSize());
    const struct {
        QWidget* control;
        QRect geometry;
    } cases[] = {
        {Q(form->GroupBox1), {4, 0, 309, 225}},     {Q(form->RzComboBox1), {56, 27, 89, 21}},
        {Q(form->RzComboBox5), {56, 126, 89, 21}},  {Q(form->RzComboBox9), {208, 52, 89, 21}},
        {Q(form->GroupBox2), {320, 0, 425, 225}},   {Q(form->RzEdit1), {77, 14, 276, 21}},
        {Q(form->RzButton1), {360, 15, 49, 19}},    {Q(form->GroupBox3), {12, 40, 397, 105}},
        {Q(form->RzMemo1), {10, 15, 377, 84}},      {Q(form->RzButton3), {16, 182, 81, 27}},
        {Q(form->RzLabel9), {208, 154, 105, 23}},   {Q(form->RzProgressBar1), {168, 187, 241, 17}},
        {Q(form->RzStatusBar1), {0, 231, 752, 19}}, {Q(form->RzStatusPane3), {0, 0, 401, 19}},
        {Q(form->SPTx), {401, 0, 144, 19}},         {Q(form->SPRx), {545, 0, 144, 19}},
        {Q(form->LEDActive), {695, 1, 16, 16}},     {Q(form->LEDTx), {713, 1, 16, 16}},
        {Q(form->LEDRx), {731, 1, 16, 16}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.control->geometry(), c.geometry) << c.control->objectName().toStdString();
    EXPECT_EQ(Q(form->RzMemo1)->parentWidget(), Q(form->GroupBox3));
    EXPECT_EQ(Q(form->LEDRx)->parentWidget(), Q(form->RzStatusBar1));

    EXPECT_TRUE(Q(form->RzLabel9)->isHidden());
    EXPECT_TRUE(Q(form->RzLabel8)->isHidden());
    EXPECT_TRUE(Q(form->RzProgressBar1)->isHidden());
    EXPECT_EQ(Q(form->RzProgressBar1)->value(), 0);
    for (QComboBox* box : {Q(form->RzComboBox1), Q(form->RzComboBox2), Q(form->RzComboBox3),
                           Q(form->RzComboBox4), Q(form->RzComboBox5)})
        EXPECT_FALSE(box->isEditable()) << box->objectName().toStdString();
    for (QComboBox* box :
         {Q(form->RzComboBox6), Q(form->RzComboBox7), Q(form->RzComboBox8), Q(form->RzComboBox9)})
        EXPECT_TRUE(box->isEditable()) << box->objectName().toStdString();

    const QStringList expected = {"RzComboBox1", "RzComboBox2", "RzComboBox4", "RzComboBox3",
                                  "RzComboBox5", "RzBitBtn1",   "RzComboBox6", "RzComboBox8",
                                  "RzComboBox7", "RzComboBox9", "RzEdit1",     "RzButton1",
                                  "RzMemo1",     "RzButton2",   "RzButton3"};
    QStringList chain;
    QWidget* w = Q(form->RzComboBox1);
    int steps = 0;
    do {
        // Unnamed widgets are parts of controls (the edit field of an editable combo box).
        if ((w->focusPolicy() & Qt::TabFocus) && !w->objectName().isEmpty())
            chain.append(w->objectName());
        w = w->nextInFocusChain();
    } while (w != Q(form->RzComboBox1) && ++steps < 200);
    EXPECT_EQ(chain, expected);
}

TEST_F(WindowTest, TimersAndImageList) {
    Create();
    const struct {
        QTimer* timer;
        int interval;
    } cases[] = {{Q(form->MsgTimer1), 3000},
                 {Q(form->TxLEDTimer), 80},
                 {Q(form->RxLEDTimer), 80},
                 {Q(form->MCPort1Timer), 5000}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.timer->interval(), c.interval);
        EXPECT_FALSE(c.timer->isActive());
    }
    EXPECT_EQ(Q(form->MCPort1Timer)->timerType(), Qt::PreciseTimer);
    ASSERT_EQ(Q(form->ImageList1).size(), 24);
    for (const QPixmap& image : Q(form->ImageList1)) {
        EXPECT_EQ(image.size(), QSize(16, 16));
        EXPECT_TRUE(image.hasAlphaChannel());
        EXPECT_EQ(image.toImage().pixelColor(0, 0).alpha(), 0); // corners show through
    }
    // Lit images are brighter than dark ones of the same colour; all differ but the greys.
    for (int i = 0; i < 24; ++i) {
        for (int j = i + 1; j < 24; ++j) {
            if (i % 3 != 2 || j % 3 != 2) {
                EXPECT_FALSE(SameImage(Q(form->ImageList1)[i], Q(form->ImageList1)[j]))
                    << i << " " << j;
            }
        }
    }
    const auto lightness = [&](int i) {
        return Q(form->ImageList1)[i].toImage().pixelColor(8, 8).lightness();
    };
    EXPECT_GT(lightness(0), lightness(1));
    EXPECT_GT(lightness(3), lightness(4));
    EXPECT_GT(lightness(6), lightness(7));
    EXPECT_EQ(form->RzBitBtn1->GlyphIndex(), 1);
    EXPECT_TRUE(SameImage(Q(form->RzBitBtn1)->icon().pixmap(16, 16), Q(form->ImageList1)[1]));
}

TEST_F(WindowTest, StatusTextIsReplacedAndClearedByItsTimer) {
    Create();
    EXPECT_TRUE(Q(form->RzStatusPane3)->text().isEmpty());
    ShowStatus("first");
    ShowStatus("收到应答");
    EXPECT_EQ(Q(form->RzStatusPane3)->text(), QStringLiteral("收到应答"));
    EXPECT_TRUE(Q(form->MsgTimer1)->isActive());
    EXPECT_GT(Q(form->MsgTimer1)->remainingTime(), 2000);
    form->MsgTimer1Timer();
    EXPECT_TRUE(Q(form->RzStatusPane3)->text().isEmpty());
    EXPECT_FALSE(Q(form->MsgTimer1)->isActive());

    // The real timer, shortened: a second text restarts the count.
    Q(form->MsgTimer1)->setInterval(1000);
    ShowStatus("a");
    QTest::qWait(600);
    ShowStatus("b");
    EXPECT_GT(Q(form->MsgTimer1)->remainingTime(), 700);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Q(form->RzStatusPane3)->text().isEmpty(); }, 5000));
    EXPECT_FALSE(Q(form->MsgTimer1)->isActive());
}

TEST_F(WindowTest, CountersShowPlainSignedDecimals) {
    Create();
    EXPECT_EQ(Q(form->SPTx)->text(), QStringLiteral("0 bytes sent"));
    EXPECT_EQ(Q(form->SPRx)->text(), QStringLiteral("0 bytes received"));
    const int32_t sent = BytesSent, received = BytesReceived;
    BytesSent = 1234567;
    BytesReceived = -5;
    UpdateByteCounters();
    EXPECT_EQ(Q(form->SPTx)->text(), QStringLiteral("1234567 bytes sent"));
    EXPECT_EQ(Q(form->SPRx)->text(), QStringLiteral("-5 bytes received"));
    BytesSent = sent;
    BytesReceived = received;
}

TEST_F(WindowTest, LampsShowTheirImagesAndGoOutAfterTheirTimers) {
    Create();
    const auto& images = Q(form->ImageList1);
    const auto lamps = [&] {
        return std::array<QPixmap, 3>{Q(form->LEDActive)->pixmap(), Q(form->LEDTx)->pixmap(),
                                      Q(form->LEDRx)->pixmap()};
    };
    EXPECT_TRUE(SameImage(Q(form->LEDActive)->pixmap(), images[2]));
    EXPECT_TRUE(SameImage(Q(form->LEDTx)->pixmap(), images[7]));
    EXPECT_TRUE(SameImage(Q(form->LEDRx)->pixmap(), images[4]));

    const auto before = lamps();
    LampOn(3);
    LampOff(-1);
    LampOn(-1);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(SameImage(lamps()[i], before[i]));
    EXPECT_FALSE(Q(form->TxLEDTimer)->isActive());
    EXPECT_FALSE(Q(form->RxLEDTimer)->isActive());

    LampOn(0);
    EXPECT_TRUE(SameImage(Q(form->LEDActive)->pixmap(), images[0]));
    EXPECT_FALSE(Q(form->TxLEDTimer)->isActive());
    LampOff(0);
    EXPECT_TRUE(SameImage(Q(form->LEDActive)->pixmap(), images[2]));

    LampOn(1);
    LampOn(2);
    EXPECT_TRUE(SameImage(Q(form->LEDTx)->pixmap(), images[6]));
    EXPECT_TRUE(SameImage(Q(form->LEDRx)->pixmap(), images[3]));
    EXPECT_TRUE(Q(form->TxLEDTimer)->isActive());
    EXPECT_TRUE(Q(form->RxLEDTimer)->isActive());
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return SameImage(Q(form->LEDTx)->pixmap(), images[7]); }, 5000));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return SameImage(Q(form->LEDRx)->pixmap(), images[4]); }, 5000));
    EXPECT_FALSE(Q(form->TxLEDTimer)->isActive());
    EXPECT_FALSE(Q(form->RxLEDTimer)->isActive());
}

TEST(ExceptionBoxTest, AppendsAFullStopAfterCharactersSortingAfterIt) {
    const struct {
        const char* message;
        const char* shown;
    } cases[] = {{"", ""},       {"abc", "abc."}, {"done.", "done."}, {"what?", "what?."},
                 {"x!", "x!"},   {"a-", "a-"},    {"1", "1."},        {"无法打开", "无法打开."},
                 {"(a)", "(a)"}, {"a/", "a/."}};
    for (const auto& c : cases)
        EXPECT_EQ(ExceptionBoxText(c.message), c.shown) << c.message;
}

class ThrowingObject : public QObject {
  public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) throw std::runtime_error("Unable to write to /x/Config.ini");
        if (e->type() == QEvent::User + 1) throw 42;
        return QObject::event(e);
    }
};

TEST_F(WindowTest, ExceptionsInHandlersAreShownAndTheProgramGoesOn) {
    RunHandler([] { throw std::runtime_error("boom"); });
    ThrowingObject object;
    QCoreApplication::postEvent(&object, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&object, new QEvent(QEvent::Type(QEvent::User + 1)));
    QCoreApplication::processEvents();
    EXPECT_EQ(exceptions, (QStringList{"boom.", "Unable to write to /x/Config.ini.", ""}));
}

} // namespace
