#pragma once
#include <QColor>
#include <QString>

class QLabel;
class QWidget;

// Small helpers the front panel's pages share.
namespace PanelWidgets {
// White or the page's near black, whichever reads better on a box of that colour: every box colour
// of the panel gives one of them a contrast ratio of at least 4.5:1.
QColor textColourOn(const QColor& box);
// "background-color:<box>;color:<text>;" with the text colour picked for the box.
QString boxStyle(const QColor& box);
// Shows the picture as large as fits the label, in its own proportions, centred.
void showPicture(QLabel* label, const QString& path);
}
