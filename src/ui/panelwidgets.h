#pragma once
#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>

class QLabel;
class QWidget;

// Small helpers the front panel's pages share.
namespace PanelWidgets {
// Box and warning colours shared by several pages, each kept close to the panel's look while its
// text reads at 4.5:1 or better.
inline const QColor kHighlight(0x41, 0x6D, 0xEB);   // a chosen row or group, white text
inline const QColor kUnavailable(0x76, 0x76, 0x76); // a button that cannot be used now, white text
inline const QColor kWarning(0xFF, 0x50, 0x50);     // warning text on the dark frames
inline const QColor kWarningBox(0xC0, 0x00, 0x00);  // a warning in white on this box, on any row
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
