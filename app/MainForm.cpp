#include "app/MainForm.h"

#include <QLineEdit>

#include <QGuiApplication>
#include <QScreen>

#include "Version.h"
#include "app/Application.h"
#include "app/LampImages.h"
#include "app/PortPanel.h"
#include "app/PortSettings.h"
#include "app/StatusLine.h"
#include "app/WindowDialogue.h"

TMForm* MForm = nullptr;
// The port component lives for the whole run, from before the window exists until after it is
// gone.
TMCPort MCPort1;

void TRzBitBtn::SetGlyph(const QList<QPixmap>& images, int index) {
    glyphIndex_ = index;
    setIcon(index >= 0 && index < images.size() ? QIcon(images[index]) : QIcon());
}

namespace {

QTimer* MakeTimer(QObject* parent, int interval, Qt::TimerType type = Qt::CoarseTimer) {
    auto* timer = new QTimer(parent);
    timer->setInterval(interval);
    timer->setTimerType(type);
    // Every timer of the window is a one-shot: started by the code, stopped by its handler.
    timer->setSingleShot(true);
    return timer;
}

QFont ResultFont() {
    QFont font;
    // The result label's face is "宋体"; on machines without it, another CJK face of the system.
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                      QStringLiteral("AR PL UMing CN"), QStringLiteral("Noto Serif CJK SC"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei")});
    font.setPixelSize(20);
    font.setBold(true);
    return font;
}

} // namespace

TMForm::TMForm(QWidget* parent) : QWidget(parent) {
    // Set before anything else: the functions FormCreate calls reach the controls through it.
    MForm = this;
    try {
        setupUi(this);

        QFont face = font();
        face.setPixelSize(11); // the 8-point face the layout was drawn for
        setFont(face);
        setFixedSize(752, 250);
        if (QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());

        // The mode boxes are editable: keep the start of a chosen text in view, not its end.
        for (QComboBox* box : {RzComboBox6, RzComboBox7, RzComboBox8, RzComboBox9})
            connect(box, &QComboBox::currentIndexChanged, box, [box] {
                if (box->lineEdit()) box->lineEdit()->setCursorPosition(0);
            });
        RzLabel9->setFont(ResultFont());
        RzLabel9->hide();
        RzLabel8->hide();
        RzProgressBar1->setRange(0, 100);
        RzProgressBar1->setValue(0);
        RzProgressBar1->hide();
        for (QLabel* heading : {RzLabel14, RzLabel15}) {
            QPalette palette = heading->palette();
            palette.setColor(QPalette::WindowText, Qt::blue);
            heading->setPalette(palette);
        }
        // The memo's background is the system colour of highlighted text (white by default).
        QPalette memoPalette = RzMemo1->palette();
        memoPalette.setColor(QPalette::Base, memoPalette.color(QPalette::HighlightedText));
        RzMemo1->setPalette(memoPalette);
        for (QLabel* pane : {RzStatusPane3, SPTx, SPRx})
            pane->setIndent(2);

        MsgTimer1 = MakeTimer(this, 3000);
        TxLEDTimer = MakeTimer(this, 80);
        RxLEDTimer = MakeTimer(this, 80);
        // Coarse timers may fire up to 5 % early; the reply time-out must not.
        MCPort1Timer = MakeTimer(this, 5000, Qt::PreciseTimer);

        ImageList1 = MakeLampImages();
        RzBitBtn1->SetGlyph(ImageList1, 1);
        RzBitBtn1->setIconSize(QSize(16, 16));

        BindHandlers();
        WatchWindowClosing(this);
        FormCreate();
    } catch (...) {
        MForm = nullptr;
        throw;
    }
}

TMForm::~TMForm() {
    if (MForm == this) MForm = nullptr;
}

void TMForm::BindHandlers() {
    auto bind = [this](auto* sender, auto signal, void (TMForm::*handler)()) {
        connect(sender, signal, this,
                [this, handler] { RunHandler([this, handler] { (this->*handler)(); }); });
    };
    bind(RzBitBtn1, &QPushButton::clicked, &TMForm::RzBitBtn1Click);
    bind(RzButton1, &QPushButton::clicked, &TMForm::RzButton1Click);
    bind(RzButton2, &QPushButton::clicked, &TMForm::RzButton2Click);
    bind(RzButton3, &QPushButton::clicked, &TMForm::RzButton3Click);
    bind(MsgTimer1, &QTimer::timeout, &TMForm::MsgTimer1Timer);
    bind(TxLEDTimer, &QTimer::timeout, &TMForm::TxLEDTimerTimer);
    bind(RxLEDTimer, &QTimer::timeout, &TMForm::RxLEDTimerTimer);
    bind(MCPort1Timer, &QTimer::timeout, &TMForm::MCPort1TimerTimer);
}

void TMForm::FormCreate() {
    setWindowTitle(QStringLiteral("Tolvane ") + QStringLiteral(TOLVANE_VERSION));
    InitLamps();
    InitPortPanel();
    // The mode boxes offer the same baud rates and parities as the port panel.
    const auto copyItems = [](QComboBox* from, QComboBox* to) {
        QStringList items;
        for (int i = 0; i < from->count(); ++i)
            items.append(from->itemText(i));
        to->clear();
        to->addItems(items);
    };
    copyItems(RzComboBox2, RzComboBox6);
    copyItems(RzComboBox3, RzComboBox8);
    copyItems(RzComboBox2, RzComboBox7);
    copyItems(RzComboBox3, RzComboBox9);
    LoadModeSettings();
}

void TMForm::FormClose() {
    ClosePortOnExit();
    SavePortSettings();
    SaveModeSettings();
}

void TMForm::closeEvent(QCloseEvent* event) {
    // A settings file that cannot be written is reported, but never keeps the window open.
    RunHandler([this] { FormClose(); });
    event->accept();
}
