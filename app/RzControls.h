#pragma once
// Small additions to the Qt controls the main window is built from: the integer Tag of the
// buttons and the image-list glyph of the open/close button.

#include <QList>
#include <QPixmap>
#include <QPushButton>

// A push button with an integer Tag, free for the handlers' own use (the upgrade button keeps its
// idle/running state there: 0 idle, 1 running).
class TRzButton : public QPushButton {
    Q_OBJECT
  public:
    using QPushButton::QPushButton;
    int Tag = 0;
};

// A push button whose icon is one image of an image list, remembered by index.
class TRzBitBtn : public QPushButton {
    Q_OBJECT
  public:
    using QPushButton::QPushButton;
    int GlyphIndex() const { return glyphIndex_; }
    // Shows images[index]; an index outside the list shows no icon but is still remembered.
    void SetGlyph(const QList<QPixmap>& images, int index);

  private:
    int glyphIndex_ = -1;
};
