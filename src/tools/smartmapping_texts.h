#pragma once
// Texts and pictures of the smart mapping page, shared by its three source files.
#include <QIcon>
#include <QString>

class QWidget;

namespace MapText {
enum Id {
    Shortcut, LoadScan, Curing, Mapping,
    Step1, BoxWidth, BoxHeight, Next, Step2, Previous, Group, Step3, Rows, Columns, RouteWay, Horizontal,
    Vertical, Send, Routing, Cancel,
    KeyWidth, KeyHeight, KeyRows, KeyColumns, KeyHorizontal, KeyVertical,
    LsStep1, LsStep2, Detected, Load, NoFile, CuringLabel, Confirm, MappingLabel,
    // outcomes and refusals shown under the stacked area
    Done, Failed, MappingFailed, BadSize, BadGrid, TooManyCabinets, BadOffset, NoCards, Busy, NoFpga,
    NoCardFound, MoreCards, CuringFailedOn, MappingFailedOn,
    Count
};
QString text(Id id);               // in g_language
QString text(Id id, int language);
}

namespace MapPictures {
QIcon routing(int mode);   // the walk of wiring mode 1-16 over a 4 x 3 cabinet grid
QIcon tile(bool online);   // a port tile's plug: green while the port's link is up
QIcon arrow(bool left);    // paging
QIcon onOff(bool on);      // mapping switch
}

// Text font of the page: 12 px for the Chinese columns, 10 px (the least that reads) otherwise.
void mapFont(QWidget* w, int chinesePixels = 12, int otherPixels = 10);

class QLabel;
class QPushButton;
class My_lineEdit;
class QRect;
// Widgets of the page's forms: white text on the page's colour, no keyboard focus (the page draws
// its own focus with style sheets).
QLabel* mapLabel(QWidget* parent, const char* name, const QRect& r, bool wrap = true);
QPushButton* mapButton(QWidget* parent, const char* name, const QRect& r);
My_lineEdit* mapEdit(QWidget* parent, const char* name, const QRect& r, const char* text);
