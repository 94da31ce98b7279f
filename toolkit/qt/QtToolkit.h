#pragma once
// The toolkit on Qt Widgets. Each control is the Qt widget itself, so Qt-side code (tests, the
// screenshot and demo programs) reaches a control's widget with Q().

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QListWidget>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <map>
#include <memory>
#include <vector>

#include "toolkit/Toolkit.h"

// The application object of the window program: exceptions escaping an event handler go to the
// exception sink and the program goes on, as the framework's message loop does.
class TApplication : public QApplication {
  public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

namespace tk::qt {

// What every control shares, on the widget it is.
template <typename Widget, typename Interface> class QtControl : public Widget, public Interface {
  public:
    using Widget::Widget;
    void SetVisible(bool visible) override { this->setVisible(visible); }
    bool Visible() const override { return this->isVisible(); }
    void SetEnabled(bool enabled) override { this->setEnabled(enabled); }
    bool Enabled() const override { return this->isEnabled(); }
    void SetAccessibleName(const std::string& name) override {
        this->setAccessibleName(QString::fromStdString(name));
    }
    std::string AccessibleName() const override { return this->accessibleName().toStdString(); }
};

class QtLabel : public QtControl<QLabel, tk::Label> {
  public:
    using QtControl::QtControl;
    void SetCaption(const std::string& text) override { setText(QString::fromStdString(text)); }
    std::string Caption() const override { return text().toStdString(); }
    void SetFontColour(Colour colour) override;
    void SetFont(const Font& font) override;
    void SetBuddy(Control* control) override;
};

class QtGroupBox : public QtControl<QGroupBox, tk::GroupBox> {
  public:
    using QtControl::QtControl;
    void SetCaption(const std::string& text) override { setTitle(QString::fromStdString(text)); }
    std::string Caption() const override { return title().toStdString(); }
    void SetFontColour(Colour colour) override;
    void SetFont(const Font& font) override;
    void SetBuddy(Control*) override {}
};

class QtComboBox : public QtControl<QComboBox, tk::ComboBox> {
  public:
    explicit QtComboBox(QWidget* parent = nullptr);
    void SetAccessibleName(const std::string& name) override;
    void SetItems(const std::string& lines) override;
    std::string Items() const override;
    int ItemCount() const override { return count(); }
    std::string ItemText(int index) const override { return itemText(index).toStdString(); }
    void SetItemHint(int index, const std::string& hint) override;
    int ItemIndex() const override { return currentIndex(); }
    void SetItemIndex(int index) override { setCurrentIndex(index); }
    void SetEditable(bool editable) override;
    std::string Text() const override { return currentText().toStdString(); }
    void SetText(const std::string& text) override;
};

class QtListBox : public QtControl<QListWidget, tk::ListBox> {
  public:
    explicit QtListBox(QWidget* parent = nullptr);
    void SetItems(const std::string& lines) override;
    int ItemCount() const override { return count(); }
    std::string ItemText(int index) const override;
    int ItemIndex() const override { return currentRow(); }
    void SetItemIndex(int index) override;

  private:
    bool Placing = false; // the program moves the selection: no OnChange
};

class QtButton : public QtControl<QPushButton, tk::Button> {
  public:
    using QtControl::QtControl;
    void SetCaption(const std::string& text) override { setText(QString::fromStdString(text)); }
    std::string Caption() const override { return text().toStdString(); }
    void SetGlyph(const tk::ImageList& images, int index) override;
};

class QtEdit : public QtControl<QLineEdit, tk::Edit> {
  public:
    using QtControl::QtControl;
    void SetText(const std::string& text) override { setText(QString::fromStdString(text)); }
    std::string Text() const override { return text().toStdString(); }
};

class QtMemo : public QtControl<QPlainTextEdit, tk::Memo> {
  public:
    explicit QtMemo(QWidget* parent = nullptr);
    void Clear() override { clear(); }
    void AppendLine(const std::string& line) override {
        appendPlainText(QString::fromStdString(line));
    }
};

class QtProgressBar : public QtControl<QProgressBar, tk::ProgressBar> {
  public:
    explicit QtProgressBar(QWidget* parent = nullptr);
    void SetPercent(int percent) override { setValue(percent); }
    int Percent() const override { return value(); }
};

class QtPanel : public QtControl<QFrame, tk::Panel> {
  public:
    explicit QtPanel(QWidget* parent = nullptr);
    void SetBackground(Colour colour) override;
};

class QtStatusBar : public QtControl<QFrame, tk::Control> {
  public:
    using QtControl::QtControl;
};

class QtImage : public QtControl<QLabel, tk::Image> {
  public:
    explicit QtImage(QWidget* parent = nullptr);
    void SetImage(const tk::ImageList& images, int index) override;
    void Repaint() override { repaint(); }
};

class QtImageList : public tk::ImageList {
  public:
    explicit QtImageList(const std::vector<LampImage>& images);
    int Count() const override { return int(Images.size()); }
    QList<QPixmap> Images;
};

class QtTimer : public QTimer, public tk::Timer {
  public:
    QtTimer(QObject* parent, int intervalMs, bool precise);
    void SetInterval(int ms) override { setInterval(ms); }
    int Interval() const override { return interval(); }
    void Start() override { start(); }
    void Stop() override { stop(); }
    bool Enabled() const override { return isActive(); }
};

class QtForm : public QWidget, public tk::Form {
  public:
    explicit QtForm(const FormLayout& layout);
    void SetCaption(const std::string& text) override {
        setWindowTitle(QString::fromStdString(text));
    }
    std::string Caption() const override { return windowTitle().toStdString(); }
    void Show() override { show(); }
    void ShowModal() override;
    void Close() override { close(); }
    Control* Find(const std::string& name) const override;
    tk::Timer* AddTimer(int intervalMs, bool precise) override;
    tk::ImageList* AddImageList(const std::vector<LampImage>& images) override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    bool enterClicks_ = false;
    std::map<std::string, Control*> controls_;
    std::vector<std::unique_ptr<QtImageList>> imageLists_;
    class QEventLoop* modalLoop_ = nullptr;
};

// The Qt widget (or timer, form, image list) behind a toolkit object.
template <typename T> struct QtOf;
template <> struct QtOf<tk::Label> { using Type = QtLabel; };
template <> struct QtOf<tk::GroupBox> { using Type = QtGroupBox; };
template <> struct QtOf<tk::ComboBox> { using Type = QtComboBox; };
template <> struct QtOf<tk::Button> { using Type = QtButton; };
template <> struct QtOf<tk::Edit> { using Type = QtEdit; };
template <> struct QtOf<tk::Memo> { using Type = QtMemo; };
template <> struct QtOf<tk::ProgressBar> { using Type = QtProgressBar; };
template <> struct QtOf<tk::Image> { using Type = QtImage; };
template <> struct QtOf<tk::Panel> { using Type = QtPanel; };
template <> struct QtOf<tk::ListBox> { using Type = QtListBox; };
template <> struct QtOf<tk::Timer> { using Type = QtTimer; };
template <> struct QtOf<tk::Form> { using Type = QtForm; };
template <> struct QtOf<tk::Control> { using Type = QWidget; }; // the status bar
template <typename T> typename QtOf<T>::Type* Q(T* object) {
    return dynamic_cast<typename QtOf<T>::Type*>(object);
}
inline const QList<QPixmap>& Q(const tk::ImageList* images) {
    return dynamic_cast<const QtImageList&>(*images).Images;
}

} // namespace tk::qt
