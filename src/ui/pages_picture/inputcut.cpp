#include "ui/pages_picture/inputcut.h"

QPointer<InputCut> g_inputcut;

InputCut::InputCut(QWidget* parent)
    : VyrPage(7, "InputCut", UiText::TitleInputCut, parent)
{
}
