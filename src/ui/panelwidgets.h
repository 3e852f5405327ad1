#pragma once
#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>

class QLabel;
class QWidget;

// Small helpers the front panel's pages share.
namespace PanelWidgets {
// The font of the widget (or the given font) at that pixel size.
QFont pixels(QWidget* widget, int px);
QFont pixels(const QFont& base, int px);
// A label with white text of that pixel size; `style` is added to its style sheet.
QLabel* label(QWidget* parent, const QString& name, const QRect& r, int px, const QString& style = QString());
// Contrast ratio of two colours, 1 to 21 (WCAG 2: relative luminances plus 0.05, larger over smaller).
double contrast(const QColor& a, const QColor& b);
// White or the page's near black, whichever reads better on a box of that colour: every box colour
// of the panel gives one of them a contrast ratio of at least 4.5:1.
QColor textColourOn(const QColor& box);
// "background-color:<box>;color:<text>;" with the text colour picked for the box.
QString boxStyle(const QColor& box);
// Shows the picture as large as fits the label, in its own proportions, centred.
void showPicture(QLabel* label, const QString& path);
}
