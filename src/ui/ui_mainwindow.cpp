#include "ui/ui_mainwindow.h"

#include <QLabel>
#include <QMainWindow>
#include <QPushButton>

namespace {

QPushButton* button(QWidget* parent, const char* name, int x, int y, int w, int h, const char* style)
{
    auto* b = new QPushButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(x, y, w, h);
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoDefault(false);
    b->setStyleSheet(QString::fromLatin1(style));
    return b;
}

const char* const kEntryStyleA = "background-color: rgb(33, 36, 53);\ncolor: rgb(255, 255, 255);\n"
                                 "border:2px;border-radius:10px;padding:2px 4px;";
const char* const kEntryStyleB = "color: rgb(255, 255, 255);\nbackground-color: rgb(33, 36, 53);\n"
                                 "border:2px;border-radius:10px;padding:2px 4px;";
const char* const kDark = "background-color: rgb(33, 36, 53);";

}

void Ui_MainWindow::setupUi(QMainWindow* window)
{
    window->setObjectName(QStringLiteral("MainWindow"));
    window->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    window->resize(320, 240);
    window->setFixedSize(320, 240);
    QFont font = window->font();
    font.setPointSize(20);
    font.setBold(true);
    window->setFont(font);
    window->setStyleSheet(QStringLiteral("background-color: rgb(16, 16, 28);"));

    centralWidget = new QWidget(window);
    centralWidget->setObjectName(QStringLiteral("centralWidget"));
    window->setCentralWidget(centralWidget);

    machinestate = button(centralWidget, "machinestate", 48, 47, 110, 80, kEntryStyleA);
    inputchoose = button(centralWidget, "inputchoose", 163, 47, 110, 80, kEntryStyleB);
    custommode = button(centralWidget, "custommode", 48, 132, 110, 80, kEntryStyleA);
    option = button(centralWidget, "option", 163, 132, 110, 80, kEntryStyleB);
    QFont entryFont = machinestate->font();
    entryFont.setPointSize(25);
    for (QPushButton* b : {machinestate, inputchoose, custommode, option})
        b->setFont(entryFont);

    label_IP = new QLabel(centralWidget);
    label_IP->setObjectName(QStringLiteral("label_IP"));
    label_IP->setGeometry(105, 10, 16, 16);
    label_IP->setScaledContents(true);
    label_IPaddr = new QLabel(centralWidget);
    label_IPaddr->setObjectName(QStringLiteral("label_IPaddr"));
    // Wide and tall enough for the longest address, "255.255.255.255", up to the lock button.
    label_IPaddr->setGeometry(126, 8, 160, 18);
    QFont small = label_IPaddr->font();
    small.setPixelSize(12);
    small.setBold(false);
    label_IPaddr->setFont(small);
    label_IPaddr->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    label_IPaddr->setText(QStringLiteral("192.168.1.199"));

    Button_lock = button(centralWidget, "Button_lock", 290, 0, 30, 30, kDark);

    widget = new QWidget(centralWidget);
    widget->setObjectName(QStringLiteral("widget"));
    // Wider and taller than the menu entries' margin alone would give, so that the tools' captions
    // read at arm's length.
    widget->setGeometry(276, 36, 44, 170);
    widget->setAttribute(Qt::WA_StyledBackground);
    QFont rowFont = widget->font();
    rowFont.setPointSize(8);
    widget->setFont(rowFont);
    widget->setStyleSheet(QString::fromLatin1(kDark));
    toolButton1 = button(widget, "toolButton1", 0, 0, 44, 40, "color: rgb(255, 255, 255);");
    toolButton2 = button(widget, "toolButton2", 0, 43, 44, 40, "color: rgb(255, 255, 255);");
    toolButton3 = button(widget, "toolButton3", 0, 86, 44, 40, "color: rgb(255, 255, 255);");
    toolButton4 = button(widget, "toolButton4", 0, 129, 44, 40, "color: rgb(255, 255, 255);");

    tools = button(centralWidget, "tools", 290, 210, 30, 30, kDark);
}
