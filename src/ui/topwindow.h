#pragma once
#include <vector>

class QWidget;

// The panel's windows on a display without a window manager, where a window shown again keeps its
// old place in the stack and the keys go to whichever window was last given them, seen or not.
// Every window is raised when it is shown (an application event filter installed with the
// application), so the stack is the order of showing, as the panel's own screen grab draws it; and
// the keys are given only to the window on top. GUI thread only.
namespace TopWindow {
QWidget* top(); // the visible window on top (pop-ups of combo boxes and tool tips aside), or null
// Every visible window, bottom first; windows shown before the order was kept lie below the rest.
std::vector<QWidget*> bottomToTop();
// Puts the window on top (also one already shown) and gives it the keys.
void raise(QWidget* window);
// Gives the keys to the window on top, or to `fallback` while no shown window is known.
void activate(QWidget* fallback = nullptr);
}
