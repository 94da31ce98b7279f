#pragma once
// The visual component toolkit: the controls, timers, dialogs, message pump and user-interface
// thread hand-over that the window and the port component use, and nothing more. Texts are
// UTF-8. Two implementations: Qt Widgets (toolkit/qt) and the Windows common controls
// (toolkit/win32); no header of either reaches the code above.
//
// Every call except NotifyWindow::Send belongs on the user-interface thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "toolkit/Layout.h"

namespace tk {

struct Colour {
    uint8_t Red = 0, Green = 0, Blue = 0;
};

struct Font {
    std::vector<std::string> Families; // first choice first
    int PixelSize = 0;
    bool Bold = false;
};

// Ends when the control is destroyed; lets a holder tell whether a control it was handed still
// exists.
using Lifetime = std::weak_ptr<void>;

class Control {
  public:
    virtual ~Control() = default;
    virtual void SetVisible(bool visible) = 0;
    virtual bool Visible() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
    // The name a screen reader announces.
    virtual void SetAccessibleName(const std::string& name) = 0;
    virtual std::string AccessibleName() const = 0;
    Lifetime Life() const { return life_; }

  private:
    std::shared_ptr<int> life_ = std::make_shared<int>();
};

// A label or a status bar pane: caption and font colour.
class Label : public Control {
  public:
    virtual void SetCaption(const std::string& text) = 0;
    virtual std::string Caption() const = 0;
    virtual void SetFontColour(Colour colour) = 0;
    virtual void SetFont(const Font& font) = 0;
    // The control a label names (for screen readers and keyboard focus).
    virtual void SetBuddy(Control* control) = 0;
};

class GroupBox : public Label {};

// A drop-down list, or an editable drop-down.
class ComboBox : public Control {
  public:
    // Replaces the items by the lines of a CR LF separated text; nothing selected afterwards,
    // no edit text left.
    virtual void SetItems(const std::string& lines) = 0;
    virtual std::string Items() const = 0; // CR LF separated
    virtual int ItemCount() const = 0;
    virtual std::string ItemText(int index) const = 0;
    // A hint shown for one item (its tooltip).
    virtual void SetItemHint(int index, const std::string& hint) = 0;
    virtual int ItemIndex() const = 0; // -1: none
    virtual void SetItemIndex(int index) = 0;
    virtual void SetEditable(bool editable) = 0;
    // The text in the field: what was typed into an editable list, or the selected item.
    virtual std::string Text() const = 0;
    virtual void SetText(const std::string& text) = 0;
    // Runs when the selection changes, and when the user picks the item already selected.
    std::function<void()> OnChange;
};

// A list of lines in view, at most one selected.
class ListBox : public Control {
  public:
    // Replaces the items by the lines of a CR LF separated text; nothing selected afterwards.
    virtual void SetItems(const std::string& lines) = 0;
    virtual int ItemCount() const = 0;
    virtual std::string ItemText(int index) const = 0;
    virtual int ItemIndex() const = 0; // -1: none
    virtual void SetItemIndex(int index) = 0;
    // Runs when the user moves the selection (not when SetItemIndex does).
    std::function<void()> OnChange;
};

class Button : public Control {
  public:
    virtual void SetCaption(const std::string& text) = 0;
    virtual std::string Caption() const = 0;
    // Shows images[index]; an index outside the list shows no glyph but is still remembered.
    virtual void SetGlyph(const class ImageList& images, int index) = 0;
    int GlyphIndex() const { return glyphIndex_; }
    int Tag = 0; // free for the handlers' own use
    std::function<void()> OnClick;

  protected:
    int glyphIndex_ = -1;
};

class Edit : public Control {
  public:
    virtual void SetText(const std::string& text) = 0;
    virtual std::string Text() const = 0;
};

// Read-only text of several lines.
class Memo : public Control {
  public:
    virtual void Clear() = 0;
    virtual void AppendLine(const std::string& line) = 0;
};

// A plain area in a colour of its own holding other controls of the layout (a tile).
class Panel : public Control {
  public:
    virtual void SetBackground(Colour colour) = 0;
};

class ProgressBar : public Control {
  public:
    virtual void SetPercent(int percent) = 0;
    virtual int Percent() const = 0;
};

// A 16 x 16 picture showing one image of an image list.
class Image : public Control {
  public:
    virtual void SetImage(const class ImageList& images, int index) = 0;
    // Draws the control at once, not at the next pass of the message loop.
    virtual void Repaint() = 0;
};

// Images of 16 x 16 pixels with alpha, drawn by the toolkit: lamps of two shapes.
enum class LampLook { Lit, Dark, Grey };
struct LampImage {
    bool Round = true;
    Colour Hue;
    LampLook Look = LampLook::Lit;
};
class ImageList {
  public:
    virtual ~ImageList() = default;
    virtual int Count() const = 0;
};

// A one-shot timer: Start (re)starts it, OnTimer runs Interval ms later.
class Timer {
  public:
    virtual ~Timer() = default;
    virtual void SetInterval(int ms) = 0;
    virtual int Interval() const = 0;
    virtual void Start() = 0;
    virtual void Stop() = 0;
    virtual bool Enabled() const = 0;
    std::function<void()> OnTimer;
};

// A top-level window built from a layout; owns its controls, timers and image lists.
class Form {
  public:
    virtual ~Form() = default;
    virtual void SetCaption(const std::string& text) = 0;
    virtual std::string Caption() const = 0;
    virtual void Show() = 0;
    // Shows the window over the others, which take no input meanwhile; returns once it has
    // closed.
    virtual void ShowModal() = 0;
    virtual void Close() = 0;
    // The control of that name in the layout; null when there is none.
    virtual Control* Find(const std::string& name) const = 0;
    // precise: never fires early (the default kind may fire a little early to save wake-ups).
    virtual Timer* AddTimer(int intervalMs, bool precise) = 0;
    virtual ImageList* AddImageList(const std::vector<LampImage>& images) = 0;
    // Runs when the window is about to close (by the user or by Close).
    std::function<void()> OnClose;
    // Asked first: false keeps the window open (and OnClose does not run).
    std::function<bool()> OnCloseQuery;

    // The control of that name and kind; throws std::logic_error when it is missing.
    template <typename T> T* Get(const std::string& name) const;
};

std::unique_ptr<Form> MakeForm(const FormLayout& layout);

// The application object: exists while the program has a user interface.
class Application {
  public:
    virtual ~Application() = default;
    // The message loop; returns once the last window has closed.
    virtual void Run() = 0;
};
std::unique_ptr<Application> MakeApplication(int& argc, char** argv);

// Modal dialogs, centred on the screen, titled with the application's title.
void MessageBox(const std::string& text);
void ExceptionBox(const std::string& text);
// A question with the buttons Yes and No; true for Yes.
bool ConfirmBox(const std::string& text);
// One existing file; its full path, or an empty text when cancelled. filter: e.g. "*.enc2".
std::string OpenFileDialog(const std::string& filter);

// The title of message boxes (and of the application as the desktop lists it).
void SetApplicationTitle(const std::string& title);

// The program's version as the executable states it.
std::string ProgramVersion();

// One pass of the message pump: sleeps until something arrives (input, a timer, a
// notification), then handles everything pending.
void WaitOnce();
// Handles the notifications already waiting, without sleeping.
void DeliverPending();

// Handed every exception that escapes an event handler, inside the catch block.
void SetExceptionSink(void (*sink)());

// The hidden window that carries work from background threads to the user-interface thread.
class NotifyWindow {
  public:
    virtual ~NotifyWindow() = default;
    // From any thread: runs the handler with message on the user-interface thread and returns
    // once it has run (at once when called on that thread). False, without running it, once
    // the window is released.
    virtual bool Send(int message) = 0;
    // On the user-interface thread: ends the window; pending and later Sends return false.
    virtual void Release() = 0;
    virtual bool Released() const = 0;
};
// Null when there is no user-interface thread yet (no application object).
std::unique_ptr<NotifyWindow> MakeNotifyWindow(std::function<void(int)> handler);

template <typename T> T* Form::Get(const std::string& name) const {
    if (T* control = dynamic_cast<T*>(Find(name))) return control;
    throw std::logic_error("the layout has no control " + name + " of that kind");
}

} // namespace tk
