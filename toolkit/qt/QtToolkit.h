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

class QtLabel : public QLabel, public tk::Label {
  public:
    using QLabel::QLabel;
    void SetVisible(bool visible) override { setVisible(visible); }
    bool Visible() const override { return isVisible(); }
    void SetEnabled(bool enabled) override { setEnabled(enabled); }
    bool Enabled() const override { return isEnabled(); }
    void SetAccessibleName(const std::string& name) override;
    void SetCaption(const std::string& text) override { setText(QString::fromStdString(text)); }
    std::string Caption() const override { return text().toStdString(); }
    void SetFontColour(Colour colour) override;
    void SetFont(const Font& font) override;
    void SetBuddy(Control* control) override;
};

class QtGroupBox : public QGroupBox, public tk::GroupBox {
  public:
    using QGroupBox::QGroupBox;
    void SetVisible(bool visible) override { setVisible(visible); }
    bool Visible() const override { return isVisible(); }
    void SetEnabled(bool enabled) override { setEnabled(enabled); }
    bool Enabled() const override { return isEnabled(); }
    void SetAccessibleName(const std::string& name) override;
    void SetCaption(const std::string& text) override { setTitle(QString::fromStdString(text)); }
    std::string Caption() const override { return title().toStdString(); }
    void SetFontColour(Colour colour) override;
    void SetFont(const Font& font) override;
    void SetBuddy(Control*) override {}
};

class QtComboBox : public QComboBox, public tk::ComboBox {
  public:
    explicit QtComboBox(QWidget* parent = nullptr);
    void SetVisible(bool visible) override { setVisible(visible); }
    bool Visible() const override { return isVisible(); }
    void SetEnabled(bool enabled) override { setEnabled(enabled); }
    bool Enabled() const override { return isEnabled(); }
    void SetAccessibleName(const std::string& name) override;
    void SetItems(const std::string& lines) override;
    std::string Items() const override;
    int ItemCount() const override { return count(); }
    std::string ItemText(int index) const override { return itemText(index).toStdString(); }
    void SetItemHint(int index, const std::string& hint) override;
    int ItemIndex() const override { return currentIndex(); }
    void SetItemIndex(int index) override { setCurrentIndex(index); }
    void SetEditable(bool editable) override;
};

class QtButton : public QPushButton, public tk::Button {
  public:
    using QPushButton::QPushButton;
    void SetVisible(bool visible) override { setVisible(visible); }
    bool Visible() const override { return isVisible(); }
    void SetEnabled(bool enabled) override { setEnabled(enabled); }
    bool Enabled() const override { return isEnabled(); }
    void SetAccessibleName(const std::string& name) override;
    void SetCaption(const std::string& text) override { setText(QString::fromStdString(text)); }
    std::string Caption() const override { return text().toStdString(); }
    void SetGlyph(const tk::ImageList& images, int index) override;
};

class QtEdit : public QLineEdit, public tk::Edit {
  public:
    using QLineEdit::QLineEdit;
    void SetVisible(bool visible) override { setVisible(visible); }
    bool Visible() const override { return isVisible(); }
    void SetEnabled(bool enabled) override { setEnabled(enabled); }
    bool Enabled() const override { return isEnabled(); }
    void SetAccessibleName(const std::string& name) override;
    void SetText(const std::string& text) override { setText(QString::fromStdString(text)); }
    std::string Text() const override { return text().toStdString(); }
};

class QtMemo : public QPlainTextEdit, public tk::Memo {
  public:
    explicit QtMemo(QWidget* parent = nullptr);
    void SetVisible(bool visible) override { setVisible(visible); }
    bool Visible() const override { return isVisible(); }
    void SetEnabled(bool enabled) override { setEnabled(enabled); }
    bool Enabled() const override { return isEnabled(); }
    void SetAccessibleName(const std::string& name) override;
    void Clear() override { clear(); }
    void AppendLine(const std::string& line) override {
        appendPlainText(QString::fromStdString(line));
    }
};

class QtProgressBar : public QProgressBar, public tk::ProgressBar {
  public:
    explicit QtProgressBar(QWidget* parent = nullptr);
    void SetVisible(bool visible) override { setVisible(visible); }
    bool Visible() const override { return isVisible(); }
    void SetEnabled(bool enabled) override { setEnabled(enabled); }
    bool Enabled() const override { return isEnabled(); }
    void SetAccessibleName(const std::string& name) override;
    void SetPercent(int percent) override { setValue(percent); }
    int Percent() const override { return value(); }
};

class QtStatusBar : public QFrame, public tk::Control {
  public:
    using QFrame::QFrame;
    void SetVisible(bool visible) override { setVisible(visible); }
    bool Visible() const override { return isVisible(); }
    void SetEnabled(bool enabled) override { setEnabled(enabled); }
    bool Enabled() const override { return isEnabled(); }
    void SetAccessibleName(const std::string& name) override;
};

class QtImage : public QLabel, public tk::Image {
  public:
    explicit QtImage(QWidget* parent = nullptr);
    void SetVisible(bool visible) override { setVisible(visible); }
    bool Visible() const override { return isVisible(); }
    void SetEnabled(bool enabled) override { setEnabled(enabled); }
    bool Enabled() const override { return isEnabled(); }
    void SetAccessibleName(const std::string& name) override;
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
    void Close() override { close(); }
    Control* Find(const std::string& name) const override;
    tk::Timer* AddTimer(int intervalMs, bool precise) override;
    tk::ImageList* AddImageList(const std::vector<LampImage>& images) override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    std::map<std::string, Control*> controls_;
    std::vector<std::unique_ptr<QtImageList>> imageLists_;
};

// The Qt widget (or timer, or image list) behind a toolkit object.
inline QtLabel* Q(tk::Label* c) {
    return dynamic_cast<QtLabel*>(c);
}
inline QtGroupBox* Q(tk::GroupBox* c) {
    return dynamic_cast<QtGroupBox*>(c);
}
inline QtComboBox* Q(tk::ComboBox* c) {
    return dynamic_cast<QtComboBox*>(c);
}
inline QtButton* Q(tk::Button* c) {
    return dynamic_cast<QtButton*>(c);
}
inline QtEdit* Q(tk::Edit* c) {
    return dynamic_cast<QtEdit*>(c);
}
inline QtMemo* Q(tk::Memo* c) {
    return dynamic_cast<QtMemo*>(c);
}
inline QtProgressBar* Q(tk::ProgressBar* c) {
    return dynamic_cast<QtProgressBar*>(c);
}
inline QtImage* Q(tk::Image* c) {
    return dynamic_cast<QtImage*>(c);
}
inline QtTimer* Q(tk::Timer* t) {
    return dynamic_cast<QtTimer*>(t);
}
inline QtForm* Q(tk::Form* f) {
    return dynamic_cast<QtForm*>(f);
}
inline const QList<QPixmap>& Q(const tk::ImageList* images) {
    return dynamic_cast<const QtImageList&>(*images).Images;
}
// Any other control (the status bar) as a widget.
inline QWidget* Q(tk::Control* c) {
    return dynamic_cast<QWidget*>(c);
}

} // namespace tk::qt
