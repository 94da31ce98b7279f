// A form: a widget holding the controls of its layout, one builder per kind of control.
#include "toolkit/qt/QtInternal.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

#include <algorithm>

namespace tk::qt {

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
    case Kind::Panel:
        return Make<QtPanel>(parent, controls, c);
    case Kind::ListBox:
        return Make<QtListBox>(parent, controls, c);
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

QtForm::QtForm(const FormLayout& layout) : enterClicks_(layout.EnterClicks) {
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

void QtForm::ShowModal() {
    setWindowModality(Qt::ApplicationModal);
    // A dialog closing is not the program's last window closing.
    setAttribute(Qt::WA_QuitOnClose, false);
    QEventLoop loop;
    modalLoop_ = &loop;
    show();
    if (isVisible()) loop.exec();
    modalLoop_ = nullptr;
}

// A button passes Enter on (it takes Space itself): the form clicks the one with the focus.
void QtForm::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    auto* button = qobject_cast<QPushButton*>(focusWidget());
    if (enterClicks_ && enter && button && button->isEnabled() && button->isVisible()) {
        button->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void QtForm::closeEvent(QCloseEvent* event) {
    if (OnCloseQuery && !OnCloseQuery()) {
        event->ignore();
        return;
    }
    if (OnClose) OnClose();
    event->accept();
    if (modalLoop_) modalLoop_->quit();
}

} // namespace tk::qt

namespace tk {

std::unique_ptr<Form> MakeForm(const FormLayout& layout) {
    return std::make_unique<qt::QtForm>(layout);
}

} // namespace tk
