// The controls: each the Qt widget itself, with what the toolkit's interface adds.
#include "toolkit/LampPixels.h"
#include "toolkit/qt/QtInternal.h"

#include <QImage>

namespace tk::qt {

namespace {

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

// The shared lamp pixels as a pixmap.
QPixmap DrawLamp(const LampImage& lamp) {
    const std::vector<uint32_t> pixels = LampPixels(lamp);
    QImage image(16, 16, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < 16; ++y)
        std::copy_n(pixels.begin() + y * 16, 16, reinterpret_cast<uint32_t*>(image.scanLine(y)));
    return QPixmap::fromImage(image);
}

QPixmap ImageAt(const ImageList& images, int index) {
    return dynamic_cast<const QtImageList&>(images).Images.value(index);
}

} // namespace

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
void QtComboBox::SetText(const std::string& text) {
    const int at = findText(ToQt(text));
    if (at >= 0 || !isEditable())
        setCurrentIndex(at);
    else
        setEditText(ToQt(text));
}

QtListBox::QtListBox(QWidget* parent) : QtControl(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::currentRowChanged, this, [this](int) {
        if (!Placing && OnChange) OnChange();
    });
}
void QtListBox::SetItems(const std::string& lines) {
    Placing = true;
    clear();
    if (!lines.empty()) addItems(ToQt(lines).split(QStringLiteral("\r\n")));
    setCurrentRow(-1);
    Placing = false;
}
std::string QtListBox::ItemText(int index) const {
    const QListWidgetItem* entry = item(index);
    return entry ? entry->text().toStdString() : std::string();
}
void QtListBox::SetItemIndex(int index) {
    Placing = true;
    setCurrentRow(index);
    Placing = false;
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

QtPanel::QtPanel(QWidget* parent) : QtControl(parent) {
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    // A tile is announced by its name; the keyboard reaches its button.
    setFocusPolicy(Qt::NoFocus);
}
void QtPanel::SetBackground(Colour colour) {
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(colour.Red, colour.Green, colour.Blue));
    setPalette(palette);
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

} // namespace tk::qt
