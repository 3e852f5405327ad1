#pragma once
#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>

class QComboBox;
class QLabel;

// A choice shown as a drop-down box between "<" and ">": orange borders normally, blue while
// the owner edits it. The box never takes the keyboard focus, so the keys reach the owning page.
class vyrcontrol : public QWidget {
    Q_OBJECT
public:
    vyrcontrol(QRect boxRect, QRect leftRect, QRect rightRect, QWidget* parent);
    void set_box_modify();
    void set_box_default();
    void set_boxindexsel(char index);

    const QString style1;
    const QString style2;
    const QString style_arrow_normal;
    const QString style_arrow_modify;
    const QString style_box_normal;
    const QString style_box_modify;
    QFont font;
    QComboBox* box;
    QLabel* left_arrow;
    QLabel* right_arrow;
};
