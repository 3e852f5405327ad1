#include "focus_marks.h"

#include "panel_fixture.h"
#include "ui/panelwidgets.h"

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <map>

namespace {

constexpr double kMinMarkContrast = 3.0; // a mark that is not text needs 3:1
constexpr int kAround = 4;               // how far a mark may reach beyond its entry
constexpr int kBand = 2;                 // the band around a mark that it must stand out from

}

namespace Panel {

QStringList weakFocusMarks(QWidget* window, const std::vector<QWidget*>& entries,
                           const std::function<void(int)>& focus, const QString& where, bool withEntry)
{
    QStringList out;
    const int n = int(entries.size());
    if (n < 2)
        return out;
    for (int i = 0; i < n; ++i) {
        QWidget* e = entries[size_t(i)];
        const QString name = where + QLatin1Char('/') + e->objectName();
        // Only the entry and what lies around it is drawn: the mark, and the band around it, lie there.
        const QRect entryArea = QRect(e->mapTo(window, QPoint(0, 0)), e->size()).adjusted(-kAround, -kAround, kAround, kAround) & window->rect();
        const QRect region = entryArea.adjusted(-kBand, -kBand, kBand, kBand) & window->rect();
        focus(i);
        const QImage with = window->grab(region).toImage().convertToFormat(QImage::Format_RGB32);
        focus((i + 1) % n);
        const QImage without = window->grab(region).toImage().convertToFormat(QImage::Format_RGB32);
        const QRect area = entryArea.translated(-region.topLeft());
        std::map<QRgb, int> markColours, underColours;
        QRect mark;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (with.pixel(x, y) != without.pixel(x, y)) {
                    ++markColours[with.pixel(x, y)];
                    ++underColours[without.pixel(x, y)];
                    mark |= QRect(x, y, 1, 1);
                }
        if (mark.isEmpty()) {
            out << name + QStringLiteral(": no focus mark");
            continue;
        }
        std::map<QRgb, int> aroundColours;
        const QRect band = mark.adjusted(-kBand, -kBand, kBand, kBand) & with.rect();
        for (int y = band.top(); y <= band.bottom(); ++y)
            for (int x = band.left(); x <= band.right(); ++x)
                if (!mark.contains(x, y))
                    ++aroundColours[with.pixel(x, y)];
        const QColor ink(Panel::commonestOf(markColours)), under(Panel::commonestOf(underColours));
        const double againstEntry = PanelWidgets::contrast(ink, under);
        if (withEntry && againstEntry < kMinMarkContrast)
            out << name + QStringLiteral(": mark %1 over %2 without the focus, contrast %3:1").arg(ink.name(), under.name()).arg(againstEntry, 0, 'f', 1);
        if (!aroundColours.empty()) {
            const QColor around(Panel::commonestOf(aroundColours));
            const double againstAround = PanelWidgets::contrast(ink, around);
            if (againstAround < kMinMarkContrast)
                out << name + QStringLiteral(": mark %1 next to %2, contrast %3:1").arg(ink.name(), around.name()).arg(againstAround, 0, 'f', 1);
        }
    }
    focus(0);
    return out;
}

}
