#pragma once
#include "ui/vyrpage.h"

#include <QPointer>
#include <QString>
#include <cstdint>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;

// Window layout page (code 9, under the settings menu): name, source, state, position, size,
// mirror and point-to-point mode of the six windows, one at a time. It shows data only.
class ImageLayout : public VyrPage {
    Q_OBJECT
public:
    explicit ImageLayout(QWidget* parent = nullptr);
    void language_changed() override;
    void syncUpdate(int code) override;
    void image_init();
    void image_para_update();
    void mirror_select(int mode);

    uint8_t shown_window = 0;
    int mirror_lit = -1; // the mirror picture shown lit, -1 before the first

    QLabel* number[6];
    QFrame* frame_image;
    QFrame* frame;
    QLabel* image_name;
    QLabel* image_source;
    QLabel* image_state;
    QLabel* label_P2P;
    QComboBox* comboBox_P2P;
    QLabel* label_X;
    QLabel* label_Y;
    QLabel* label_W;
    QLabel* label_H;
    QLineEdit* lineEdit_X;
    QLineEdit* lineEdit_Y;
    QLineEdit* lineEdit_W;
    QLineEdit* lineEdit_H;
    QLabel* label_mirror;
    QLabel* mirror[4];

protected:
    void keyReleaseEvent(QKeyEvent* event) override;
};

extern QPointer<ImageLayout> g_imagelayout;
