#include "toolkit/qt/QtToolkit.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPainter>
#include <QRadialGradient>
#include <QScreen>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>

#include "Version.h"

namespace tk {
namespace {

void (*exceptionSink)() = nullptr;

QString ToQt(const std::string& text) {
    return QString::fromStdString(text);
}

void PaintFontColour(QWidget* widget, Colour colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, QColor(colour.Red, colour.Green, colour.Blue));
    widget->setPalette(palette);
}

void ApplyFont(QWidget* widget, const Font& face) {
    QFont font; // the application's face with only these properties set
    QStringList families;
    for (const std::string& family : face.Families)
        families.append(ToQt(family));
    font.setFamilies(families);
    if (face.PixelSize > 0) font.setPixelSize(face.PixelSize);
    font.setBold(face.Bold);
    widget->setFont(font);
}

QPixmap DrawLamp(const LampImage& lamp) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);

    const QColor colour(lamp.Hue.Red, lamp.Hue.Green, lamp.Hue.Blue);
    QColor base = colour;
    if (lamp.Look == LampLook::Dark)
        base = colour.darker(260);
    else if (lamp.Look == LampLook::Grey)
        base = QColor(150, 150, 150);
    const bool lit = lamp.Look == LampLook::Lit;
    QRadialGradient fill(QPointF(6, 6), 9);
    fill.setColorAt(0, lit ? QColor(255, 255, 255) : base.lighter(140));
    fill.setColorAt(lit ? 0.35 : 0.25, base);
    fill.setColorAt(1, base.darker(150));

    painter.setPen(QPen(QColor(60, 60, 60), 1));
    painter.setBrush(fill);
    const QRectF body(1.5, 1.5, 13, 13);
    if (lamp.Round)
        painter.drawEllipse(body);
    else
        painter.drawRoundedRect(body, 2.5, 2.5);
    return pixmap;
}

QPixmap ImageAt(const ImageList& images, int index) {
    return dynamic_cast<const qt::QtImageList&>(images).Images.value(index);
}

void RunBox(QMessageBox::Icon icon, const std::string& text) {
    // No parent: the box is centred on the screen rather than on the window.
    QMessageBox box(icon, QCoreApplication::applicationName(), ToQt(text), QMessageBox::Ok);
    box.exec();
}

} // namespace

void SetExceptionSink(void (*sink)()) {
    exceptionSink = sink;
}

void MessageBox(const std::string& text) {
    RunBox(QMessageBox::NoIcon, text);
}

void ExceptionBox(const std::string& text) {
    RunBox(QMessageBox::Critical, text);
}

std::string OpenFileDialog(const std::string& filter) {
    return QFileDialog::getOpenFileName(QApplication::activeWindow(), QString(), QString(),
                                        ToQt(filter))
        .toStdString();
}

void SetApplicationTitle(const std::string& title) {
    // Only the name: a display name would be appended to every window title on X11.
    QCoreApplication::setApplicationName(ToQt(title));
}

std::string ProgramVersion() {
    return TOLVANE_VERSION;
}

void WaitOnce() {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void DeliverPending() {
    QCoreApplication::sendPostedEvents();
}

// --- controls ------------------------------------------------------------------------------

namespace qt {

void QtLabel::SetFontColour(Colour colour) {
    PaintFontColour(this, colour);
}
void QtLabel::SetFont(const Font& font) {
    ApplyFont(this, font);
}
void QtLabel::SetBuddy(Control* control) {
    setBuddy(dynamic_cast<QWidget*>(control));
}

void QtGroupBox::SetFontColour(Colour colour) {
    PaintFontColour(this, colour);
}
void QtGroupBox::SetFont(const Font& font) {
    ApplyFont(this, font);
}

QtComboBox::QtComboBox(QWidget* parent) : QtControl(parent) {
    // A pick that moves the selection, and a pick of the item already selected.
    connect(this, &QComboBox::currentIndexChanged, this, [this](int) {
        if (OnChange) OnChange();
    });
    connect(this, &QComboBox::textActivated, this, [this](const QString&) {
        if (OnChange) OnChange();
    });
}
void QtComboBox::SetAccessibleName(const std::string& name) {
    QtControl::SetAccessibleName(name);
    // The text field of an editable list takes the focus, so it needs the name as well.
    if (lineEdit()) lineEdit()->setAccessibleName(ToQt(name));
}
void QtComboBox::SetItems(const std::string& lines) {
    clear();
    clearEditText();
    if (!lines.empty()) addItems(ToQt(lines).split(QStringLiteral("\r\n")));
    setCurrentIndex(-1);
}
std::string QtComboBox::Items() const {
    QStringList items;
    for (int i = 0; i < count(); ++i)
        items.append(itemText(i));
    return items.join(QStringLiteral("\r\n")).toStdString();
}
void QtComboBox::SetItemHint(int index, const std::string& hint) {
    setItemData(index, ToQt(hint), Qt::ToolTipRole);
}
void QtComboBox::SetEditable(bool editable) {
    setEditable(editable);
}

void QtButton::SetGlyph(const tk::ImageList& images, int index) {
    glyphIndex_ = index;
    const QPixmap image = ImageAt(images, index);
    setIcon(image.isNull() ? QIcon() : QIcon(image));
}

QtMemo::QtMemo(QWidget* parent) : QtControl(parent) {
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setReadOnly(true);
}

QtProgressBar::QtProgressBar(QWidget* parent) : QtControl(parent) {
    setRange(0, 100);
    setValue(0);
}

QtImage::QtImage(QWidget* parent) : QtControl(parent) {
    // Qt double-buffers every widget already. The images carry alpha, so an image control
    // that paints no background of its own lets its parent show through.
    setAutoFillBackground(false);
}
void QtImage::SetImage(const tk::ImageList& images, int index) {
    setPixmap(ImageAt(images, index));
}

QtImageList::QtImageList(const std::vector<LampImage>& images) {
    for (const LampImage& image : images)
        Images.append(DrawLamp(image));
}

QtTimer::QtTimer(QObject* parent, int intervalMs, bool precise) : QTimer(parent) {
    setInterval(intervalMs);
    // Coarse timers may fire up to 5 % early.
    setTimerType(precise ? Qt::PreciseTimer : Qt::CoarseTimer);
    setSingleShot(true);
    connect(this, &QTimer::timeout, this, [this] {
        if (OnTimer) OnTimer();
    });
}

// --- the form ------------------------------------------------------------------------------

namespace {

using ControlMap = std::map<std::string, Control*>;

template <typename T> T* Make(QWidget* parent, ControlMap& controls, const ControlLayout& c) {
    auto* widget = new T(parent);
    controls[c.Name] = widget;
    return widget;
}

// One builder per kind of control: the widget with what that kind needs beyond its place.

QWidget* BuildLabel(QWidget* parent, ControlMap& controls, const ControlLayout& c) {
    auto* label = Make<QtLabel>(parent, controls, c);
    label->setText(QString::fromUtf8(c.Caption));
    return label;
}

QWidget* BuildStatusPane(QWidget* parent, ControlMap& controls, const ControlLayout& c) {
    auto* pane = Make<QtLabel>(parent, controls, c);
    pane->setFrameShape(QFrame::Panel);
    pane->setFrameShadow(QFrame::Sunken);
    pane->setIndent(2);
    pane->setText(QString::fromUtf8(c.Caption));
    return pane;
}

QWidget* BuildGroupBox(QWidget* parent, ControlMap& controls, const ControlLayout& c) {
    auto* group = Make<QtGroupBox>(parent, controls, c);
    group->setTitle(QString::fromUtf8(c.Caption));
    return group;
}

QWidget* BuildEditCombo(QWidget* parent, ControlMap& controls, const ControlLayout& c) {
    auto* box = Make<QtComboBox>(parent, controls, c);
    box->setEditable(true);
    // Keep the start of a chosen text in view, not its end.
    QObject::connect(box, &QComboBox::currentIndexChanged, box, [box] {
        if (box->lineEdit()) box->lineEdit()->setCursorPosition(0);
    });
    return box;
}

QWidget* BuildButton(QWidget* parent, ControlMap& controls, const ControlLayout& c) {
    auto* button = Make<QtButton>(parent, controls, c);
    button->setText(QString::fromUtf8(c.Caption));
    if (c.Kind == Kind::GlyphButton) button->setIconSize(QSize(16, 16));
    QObject::connect(button, &QPushButton::clicked, button, [button] {
        if (button->OnClick) button->OnClick();
    });
    return button;
}

QWidget* BuildMemo(QWidget* parent, ControlMap& controls, const ControlLayout& c) {
    auto* memo = Make<QtMemo>(parent, controls, c);
    // The memo's background is the system colour of highlighted text (white by default).
    QPalette palette = memo->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::HighlightedText));
    memo->setPalette(palette);
    return memo;
}

QWidget* BuildControl(QWidget* parent, ControlMap& controls, const ControlLayout& c) {
    switch (c.Kind) {
    case Kind::Label:
        return BuildLabel(parent, controls, c);
    case Kind::StatusPane:
        return BuildStatusPane(parent, controls, c);
    case Kind::GroupBox:
        return BuildGroupBox(parent, controls, c);
    case Kind::ComboBox:
        return Make<QtComboBox>(parent, controls, c);
    case Kind::EditCombo:
        return BuildEditCombo(parent, controls, c);
    case Kind::Button:
    case Kind::GlyphButton:
        return BuildButton(parent, controls, c);
    case Kind::Edit:
        return Make<QtEdit>(parent, controls, c);
    case Kind::Memo:
        return BuildMemo(parent, controls, c);
    case Kind::ProgressBar:
        return Make<QtProgressBar>(parent, controls, c);
    case Kind::StatusBar:
        return Make<QtStatusBar>(parent, controls, c);
    case Kind::Image:
        return Make<QtImage>(parent, controls, c);
    }
    return nullptr;
}

// The tab key follows the layout's tab order.
void OrderTabStops(std::vector<std::pair<int, QWidget*>> tabStops) {
    std::sort(tabStops.begin(), tabStops.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 1; i < tabStops.size(); ++i)
        QWidget::setTabOrder(tabStops[i - 1].second, tabStops[i].second);
}

} // namespace

QtForm::QtForm(const FormLayout& layout) {
    setObjectName(QString::fromUtf8(layout.Name));
    setWindowTitle(QCoreApplication::applicationName());
    std::map<std::string, QWidget*> widgets;
    std::vector<std::pair<int, QWidget*>> tabStops;
    for (int i = 0; i < layout.ControlCount; ++i) {
        const ControlLayout& c = layout.Controls[i];
        const auto parentAt = widgets.find(c.Parent ? c.Parent : "");
        QWidget* parent = parentAt == widgets.end() ? this : parentAt->second;
        QWidget* widget = BuildControl(parent, controls_, c);
        widget->setObjectName(QString::fromUtf8(c.Name));
        widget->setGeometry(c.Left, c.Top, c.Width, c.Height);
        if (c.Hidden) widget->setVisible(false);
        if (c.TabOrder > 0) tabStops.emplace_back(c.TabOrder, widget);
        widgets[c.Name] = widget;
    }
    OrderTabStops(std::move(tabStops));

    QFont face = font();
    face.setPixelSize(11); // the 8-point face the layout was drawn for
    setFont(face);
    setFixedSize(layout.ClientWidth, layout.ClientHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

Control* QtForm::Find(const std::string& name) const {
    const auto at = controls_.find(name);
    return at == controls_.end() ? nullptr : at->second;
}

tk::Timer* QtForm::AddTimer(int intervalMs, bool precise) {
    return new QtTimer(this, intervalMs, precise);
}

tk::ImageList* QtForm::AddImageList(const std::vector<LampImage>& images) {
    imageLists_.push_back(std::make_unique<QtImageList>(images));
    return imageLists_.back().get();
}

void QtForm::closeEvent(QCloseEvent* event) {
    if (OnClose) OnClose();
    event->accept();
}

} // namespace qt

namespace {
class QtApplication : public Application {
  public:
    QtApplication(int& argc, char** argv) : App(argc, argv) {}
    void Run() override { App.exec(); }

  private:
    TApplication App;
};
} // namespace

std::unique_ptr<Application> MakeApplication(int& argc, char** argv) {
    return std::make_unique<QtApplication>(argc, argv);
}

std::unique_ptr<Form> MakeForm(const FormLayout& layout) {
    return std::make_unique<qt::QtForm>(layout);
}

// --- notifications -------------------------------------------------------------------------

namespace {

// Waiting state of one cross-thread call: finished once the work ran on the user-interface
// thread, or once the call was dropped because the window went away.
struct UiCall {
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false;
};

class CallEvent : public QEvent {
  public:
    static QEvent::Type Kind() {
        static const QEvent::Type kind = static_cast<QEvent::Type>(QEvent::registerEventType());
        return kind;
    }
    CallEvent(int message, std::shared_ptr<UiCall> call)
        : QEvent(Kind()), Message(message), Call(std::move(call)) {}
    // Runs whether the event was handled or discarded, so the sender never waits for ever.
    ~CallEvent() override {
        {
            std::lock_guard<std::mutex> lock(Call->Lock);
            Call->Finished = true;
        }
        Call->Done.notify_all();
    }
    const int Message;

  private:
    std::shared_ptr<UiCall> Call;
};

class QtNotifyWindow;

// Every live notification window, so that all of them let go of Qt when the application object
// goes (the window program's port component is a static object that outlives it). Never
// destroyed, as a static component's destructor still uses it during program exit.
std::mutex RegistryLock;
std::set<QtNotifyWindow*>& Registry() {
    static auto* windows = new std::set<QtNotifyWindow*>;
    return *windows;
}
bool PostRoutineAdded = false;

class QtNotifyWindow : public NotifyWindow {
  public:
    explicit QtNotifyWindow(std::function<void(int)> handler);
    ~QtNotifyWindow() override { Release(); }
    bool Send(int message) override;
    void Release() override;
    bool Released() const override {
        std::lock_guard<std::mutex> lock(Lock);
        return !Object;
    }
    static void ReleaseAll();

  private:
    class Receiver : public QObject {
      public:
        explicit Receiver(QtNotifyWindow* owner) : Owner(owner) {}
        bool event(QEvent* e) override {
            {
                // Pairs with the sender's lock around posting: everything it did before is
                // seen, the event itself included.
                std::lock_guard<std::mutex> lock(Owner->Lock);
            }
            if (e->type() != CallEvent::Kind()) return QObject::event(e);
            Owner->Handler(static_cast<CallEvent*>(e)->Message);
            return true;
        }

      private:
        QtNotifyWindow* const Owner;
    };

    const std::function<void(int)> Handler;
    mutable std::mutex Lock; // guards Object against release while a thread posts to it
    QObject* Object = nullptr;
};

QtNotifyWindow::QtNotifyWindow(std::function<void(int)> handler) : Handler(std::move(handler)) {
    Object = new Receiver(this);
    std::lock_guard<std::mutex> lock(RegistryLock);
    Registry().insert(this);
    if (!PostRoutineAdded) {
        // Runs inside the application object's destructor, while Qt is still whole.
        qAddPostRoutine(&QtNotifyWindow::ReleaseAll);
        PostRoutineAdded = true;
    }
}

bool QtNotifyWindow::Send(int message) {
    auto call = std::make_shared<UiCall>();
    {
        std::unique_lock<std::mutex> lock(Lock);
        if (!Object) return false;
        if (Object->thread() == QThread::currentThread()) {
            // Already on the user-interface thread: waiting for itself would never end.
            lock.unlock();
            Handler(message);
            return true;
        }
        QCoreApplication::postEvent(Object, new CallEvent(message, call));
    }
    std::unique_lock<std::mutex> lock(call->Lock);
    call->Done.wait(lock, [&] { return call->Finished; });
    return true;
}

void QtNotifyWindow::Release() {
    QObject* object;
    {
        std::lock_guard<std::mutex> lock(Lock);
        object = Object;
        Object = nullptr;
    }
    delete object; // discards its pending calls, which releases their senders
    std::lock_guard<std::mutex> lock(RegistryLock);
    Registry().erase(this);
}

void QtNotifyWindow::ReleaseAll() {
    std::set<QtNotifyWindow*> windows;
    {
        std::lock_guard<std::mutex> lock(RegistryLock);
        windows.swap(Registry());
        PostRoutineAdded = false;
    }
    for (QtNotifyWindow* window : windows)
        window->Release();
}

} // namespace

std::unique_ptr<NotifyWindow> MakeNotifyWindow(std::function<void(int)> handler) {
    if (!QCoreApplication::instance()) return nullptr;
    return std::make_unique<QtNotifyWindow>(std::move(handler));
}

} // namespace tk

// --- the application object ----------------------------------------------------------------

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // Lets the desktop match the window to its installed entry (and icon).
    setDesktopFileName(QStringLiteral("org.tolvane.Tolvane"));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        if (tk::exceptionSink) tk::exceptionSink();
        return false;
    }
}
