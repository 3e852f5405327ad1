#include "ui/inputtexts.h"

#include "base/global.h"
#include "ui/texts.h"

namespace {
struct Row {
    InText id;
    const char* text[5]; // zh, en, ru, vn, tn
};

const Row kRows[] = {
    {InText::Black, {"黑屏", "Black", "Чёрный", "Màn đen", "黑屏"}},
    {InText::NoSignal, {"无信号", "No signal", "Нет сигнала", "Không tín hiệu", "無信號"}},
    {InText::Close, {"关闭", "Close", "Выкл.", "Đóng", "關閉"}},
    {InText::KeypadCancel, {"取消", "Cancle", "Отмена", "Hủy bỏ", "取消"}},
    {InText::KeypadOk, {"确定", "OK", "OK", "Đồng ý", "確定"}},
    {InText::ButtonInputCut, {"输入截取", "Input intercept", "Обрезка", "Cắt nguồn", "輸入截取"}},
    {InText::ButtonEdid, {"EDID设置", "EDID Settings", "EDID", "Cài EDID", "EDID設置"}},
};
static_assert(sizeof kRows / sizeof kRows[0] == size_t(InText::Count), "one row per text");
}

QString inText(InText id, int language)
{
    const size_t i = size_t(id);
    if (i >= size_t(InText::Count) || kRows[i].id != id)
        return QString();
    return QString::fromUtf8(kRows[i].text[languageColumn(language)]);
}

QString inText(InText id)
{
    return inText(id, g_language.load());
}
