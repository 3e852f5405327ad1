#pragma once

class QLabel;
class QMainWindow;
class QPushButton;
class QWidget;

// The root menu's form: four menu entries, the key lock, the IP line and the hidden tools row.
class Ui_MainWindow {
public:
    QWidget* centralWidget;
    QPushButton* machinestate;
    QPushButton* inputchoose;
    QPushButton* custommode;
    QPushButton* option;
    QLabel* label_IP;
    QLabel* label_IPaddr;
    QPushButton* Button_lock;
    QWidget* widget; // the tools row
    QPushButton* toolButton1;
    QPushButton* toolButton2;
    QPushButton* toolButton3;
    QPushButton* toolButton4;
    QPushButton* tools;

    void setupUi(QMainWindow* window);
};
