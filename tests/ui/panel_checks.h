#pragma once
#include <QString>
#include <QtGlobal>

class QLabel;
class QWidget;
class VyrPage;

// What the panel shows, as the page tests check it, and keys delivered straight to a widget.
namespace Panel {
// The page with this focus code is open, on top and the active window.
bool onTop(int code);
// The panel's focus code is this page's (which may still be opening).
bool focusIs(int code);
bool keypadUp(); // the number keypad is shown and active
QString title(QWidget* page); // the page's title label; "" for no page
QString labelText(QWidget* parent, const char* name); // "<none>" when there is no such label
bool styled(QWidget* w, const char* style); // the widget's style sheet is exactly this
// The label shows the picture drawn into the label's size in that mode.
bool showsScaled(QLabel* label, const char* path, Qt::AspectRatioMode mode);
void sendKey(QWidget* to, int code); // press and release, delivered at once
void release(QWidget* to, int code); // a key release alone, as the panel's keys end

// A page maker for openLater and the page tables.
template <class T>
VyrPage* make()
{
    return new T;
}
}
