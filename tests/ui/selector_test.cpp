// The selector: its two looks and a box that never takes the keys.
#include "ui/vyrcontrol.h"

#include <QComboBox>
#include <QLabel>
#include <QWidget>
#include <gtest/gtest.h>

namespace {
const QString kArrowOrange = QStringLiteral("color: rgb(255, 255, 255);border:1px solid rgb(255,171,84);background-color:rgb(0, 0, 0)");
const QString kArrowBlue = QStringLiteral("color: rgb(255, 255, 255);border:1px solid rgb(71,119,255);background-color:rgb(0, 0, 0)");
const QString kBoxOrange = QStringLiteral("QComboBox{color:rgb(255,255,255);\nborder:1px solid rgb(255,171,84);\n}\nQComboBox:drop-down{\nborder-style:none\n}");
const QString kBoxBlue = QStringLiteral("QComboBox{color:rgb(255,255,255);\nborder:1px solid rgb(71,119,255);\n}\nQComboBox:drop-down{\nborder-style:none\n}");
}

TEST(Selector, LooksFollowModifyAndDefault)
{
    QWidget page;
    auto* s = new vyrcontrol(QRect(19, 0, 100, 22), QRect(0, 0, 20, 22), QRect(118, 0, 20, 22), &page);
    s->setGeometry(3, 28, 320, 24);
    EXPECT_EQ(s->parent(), &page);
    EXPECT_EQ(s->box->geometry(), QRect(19, 0, 100, 22));
    EXPECT_EQ(s->left_arrow->geometry(), QRect(0, 0, 20, 22));
    EXPECT_EQ(s->right_arrow->geometry(), QRect(118, 0, 20, 22));
    EXPECT_EQ(s->left_arrow->text(), QStringLiteral("<"));
    EXPECT_EQ(s->right_arrow->text(), QStringLiteral(">"));
    EXPECT_EQ(s->box->objectName(), QStringLiteral("vyrcontrol"));
    EXPECT_EQ(s->box->font().pointSize(), 9);
    struct Step {
        void (vyrcontrol::*call)();
        const QString& box;
        const QString& arrow;
    } steps[] = {
        {nullptr, kBoxOrange, kArrowOrange},
        {&vyrcontrol::set_box_modify, kBoxBlue, kArrowBlue},
        {&vyrcontrol::set_box_modify, kBoxBlue, kArrowBlue},
        {&vyrcontrol::set_box_default, kBoxOrange, kArrowOrange},
    };
    for (const Step& step : steps) {
        if (step.call)
            (s->*step.call)();
        EXPECT_EQ(s->box->styleSheet(), step.box);
        EXPECT_EQ(s->left_arrow->styleSheet(), step.arrow);
        EXPECT_EQ(s->right_arrow->styleSheet(), step.arrow);
        EXPECT_NE(s->left_arrow->styleSheet(), s->style1);
        EXPECT_NE(s->right_arrow->styleSheet(), s->style2);
    }
}

TEST(Selector, BoxTakesNoKeysAndShowsTheChosenEntry)
{
    QWidget page;
    page.setFocusPolicy(Qt::StrongFocus);
    vyrcontrol s(QRect(19, 0, 100, 22), QRect(0, 0, 20, 22), QRect(118, 0, 20, 22), &page);
    EXPECT_EQ(s.box->focusPolicy(), Qt::NoFocus);
    for (int i = 1; i <= 16; ++i)
        s.box->addItem(QStringLiteral("MODE %1").arg(i));
    s.set_boxindexsel(5);
    EXPECT_EQ(s.box->currentText(), QStringLiteral("MODE 6"));
    s.set_boxindexsel(15);
    EXPECT_EQ(s.box->currentIndex(), 15);
    s.set_boxindexsel(char(200)); // no such entry: the choice stays
    EXPECT_EQ(s.box->currentIndex(), 15);
    page.show();
    s.box->setFocus();
    EXPECT_FALSE(s.box->hasFocus());
}
