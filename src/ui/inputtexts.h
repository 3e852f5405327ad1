#pragma once
#include <QString>

// Texts of the home screen, the input choice page and the keypad, one literal per language
// (0 simplified Chinese, 1 English, 2 Russian, 3 Vietnamese, 4 traditional Chinese).
enum class InText {
    Black,
    NoSignal,
    Close,
    KeypadCancel,
    KeypadOk,
    ButtonInputCut,
    ButtonEdid,
    Count
};

QString inText(InText id);               // in g_language
QString inText(InText id, int language);
