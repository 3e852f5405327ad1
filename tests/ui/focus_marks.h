#pragma once
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QWidget;

namespace Panel {
// The focus mark of each entry of a focus list, as drawn: the pixels of the entry (and 4 px around
// it) that differ between the window with the focus on that entry and with the focus on the next.
// One line per entry whose mark is missing, or whose commonest colour contrasts less than 3:1 with
// what lies around the mark, or (withEntry) with what those pixels show without the focus. focus(i)
// puts the focus on entry i (the first call finds the list as it is: its mark must show already).
QStringList weakFocusMarks(QWidget* window, const std::vector<QWidget*>& entries,
                           const std::function<void(int)>& focus, const QString& where, bool withEntry = true);
}
