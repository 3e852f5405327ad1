#include "ui/outputset.h"

#include "base/global.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "ui/blocksnapshot.h"
#include "ui/option.h"
#include "ui/pagenav.h"
#include "ui/pages_settings/ledset.h"
#include "ui/pages_settings/netset.h"

#include <QLabel>
#include <QPushButton>

QPointer<OutputSet> g_outputset;

namespace {
struct Texts {
    const char* ledset;
    const char* lanset;
    const char* info; // %1 width, %2 height
};
const Texts kTexts[5] = {
    {"LED设置", "网口输出", "当前设置LED屏宽高为: %1x%2"},
    {"LED Setting", "Port output", "LED Screen can be set:%1x%2"},
    {"Настройки\nLED", "Настройка\nLAN", "Текущий размер LED (px): %1x%2"},
    {"Cài đặt\nLED", "Cài đặt\ncổng MẠNG", "Gợi ý: Kích thước màn hình LED hiện tại::%1x%2"},
    {"LED設置", "網口輸出", "當前設置LED屏寬高爲: %1x%2"},
};
}

QPushButton* menuTextButton(QWidget* page, const char* name, int x, int y)
{
    auto* b = new QPushButton(page);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(x, y, 90, 80);
    QFont f = b->font();
    f.setPixelSize(11); // the longest two-line texts fit inside the frame
    b->setFont(f);
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoDefault(false);
    return b;
}

OutputSet::OutputSet(QWidget* parent)
    : VyrPage(6, "OutputSet", UiText::TitleOutputSet, parent)
{
    Button_ledset = menuTextButton(this, "Button_ledset", 15, 47);
    Button_lanset = menuTextButton(this, "Button_lanset", 115, 47);
    label_info = new QLabel(this);
    label_info->setObjectName(QStringLiteral("label_info"));
    // Wide enough for the longest language at a size that reads on the panel.
    label_info->setGeometry(10, 190, 305, 24);
    label_info->setWordWrap(true);
    label_info->setStyleSheet(QStringLiteral("color:rgb(255,255,255);"));
    QFont f = label_info->font();
    f.setPixelSize(10);
    label_info->setFont(f);
    placeNotes(this, &label_note_OK, &label_note_back);
    connect(Button_ledset, &QPushButton::clicked, this, &OutputSet::on_Button_ledset_clicked);
    connect(Button_lanset, &QPushButton::clicked, this, &OutputSet::on_Button_lanset_clicked);
    setFocusList({Button_ledset, Button_lanset});
    language_changed();
}

void OutputSet::language_changed()
{
    VyrPage::language_changed();
    const Texts& t = kTexts[languageColumn(g_language.load())];
    Button_ledset->setText(QString::fromUtf8(t.ledset));
    Button_lanset->setText(QString::fromUtf8(t.lanset));
    showSize();
}

void OutputSet::syncUpdate(int code)
{
    VyrPage::syncUpdate(code);
    showSize();
}

void OutputSet::showSize()
{
    const Texts& t = kTexts[languageColumn(g_language.load())];
    // The size on one copy of the block: the LED size page and the protocol write it meanwhile.
    const BlockSnapshot b(VyrRamPara::p_vyrrampara_config);
    const unsigned width = b.u16(blk::kLedWidth), height = b.u16(blk::kLedHeight); // unsigned words
    label_info->setText(QString::fromUtf8(t.info).arg(width).arg(height));
}

void OutputSet::on_Button_ledset_clicked() { PageNav::openModal(new ledset(nullptr)); }
void OutputSet::on_Button_lanset_clicked() { PageNav::openModal(new netset(nullptr)); }
