#include "ui/pages_picture/inputchoose.h"

QPointer<InputChoose> g_inputchoose;

InputChoose::InputChoose(QWidget* parent)
    : VyrPage(3, "InputChoose", UiText::TitleInputChoose, parent)
{
}
