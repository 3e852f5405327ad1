#include "ui/vyrcontrol.h"

#include <QComboBox>
#include <QLabel>

vyrcontrol::vyrcontrol(QRect boxRect, QRect leftRect, QRect rightRect, QWidget* parent)
    : QWidget(parent)
    , style1(QStringLiteral("border:1px solid rgb(255, 255, 255);"))
    , style2(QStringLiteral("color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);background-color:rgb(0, 0, 0)"))
    , style_arrow_normal(QStringLiteral("color: rgb(255, 255, 255);border:1px solid rgb(255,171,84);background-color:rgb(0, 0, 0)"))
    , style_arrow_modify(QStringLiteral("color: rgb(255, 255, 255);border:1px solid rgb(71,119,255);background-color:rgb(0, 0, 0)"))
    , style_box_normal(QStringLiteral("QComboBox{color:rgb(255,255,255);\nborder:1px solid rgb(255,171,84);\n}\nQComboBox:drop-down{\nborder-style:none\n}"))
    , style_box_modify(QStringLiteral("QComboBox{color:rgb(255,255,255);\nborder:1px solid rgb(71,119,255);\n}\nQComboBox:drop-down{\nborder-style:none\n}"))
{
    font.setPointSize(9);
    box = new QComboBox(this);
    box->setObjectName(QStringLiteral("vyrcontrol"));
    box->setGeometry(boxRect);
    box->setFont(font);
    box->setFocusPolicy(Qt::NoFocus);
    box->setStyleSheet(style_box_normal);
    left_arrow = new QLabel(QStringLiteral("<"), this);
    left_arrow->setGeometry(leftRect);
    right_arrow = new QLabel(QStringLiteral(">"), this);
    right_arrow->setGeometry(rightRect);
    for (QLabel* arrow : {left_arrow, right_arrow}) {
        arrow->setFont(font);
        arrow->setStyleSheet(style_arrow_normal);
    }
}

void vyrcontrol::set_box_modify()
{
    box->setStyleSheet(style_box_modify);
    left_arrow->setStyleSheet(style_arrow_modify);
    right_arrow->setStyleSheet(style_arrow_modify);
}

void vyrcontrol::set_box_default()
{
    box->setStyleSheet(style_box_normal);
    left_arrow->setStyleSheet(style_arrow_normal);
    right_arrow->setStyleSheet(style_arrow_normal);
}

void vyrcontrol::set_boxindexsel(char index)
{
    box->setCurrentIndex(int(static_cast<unsigned char>(index)) < box->count() ? int(static_cast<unsigned char>(index)) : box->currentIndex());
}
