#include "ui/pages_settings/test_chart.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "scaler/c331_manage.h"
#include "ui/pagenav.h"
#include "ui/panelkeys.h"
#include "ui/panelwidgets.h"

#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QtDebug>
#include <utility>

QPointer<test_chart> g_test_chart;

namespace {

struct Texts {
    const char* title;
    const char* close;
    const char* captions[test_chart::kPatterns]; // null: numbered
    const char* numbered;
    const char* refused;
};
const Texts kTexts[5] = {
    {"测试图", "关闭测试图", {"红色", "绿色", "蓝色", "白色", "黑色", "色带", "竖线", "横线"}, nullptr,
     "多个窗口打开时无法显示测试图"},
    {"Test pattern", "Close",
     {"Red", "Green", "Blue", "White", "Black", "Colour bar", "Vertical line", "Horizontal line"}, nullptr,
     "A test pattern needs a single window on the screen"},
    {"Тестовый образец", "Закрыть", {}, "Тест %1", "Тест возможен только с одним окном на экране"},
    {"Biểu đồ kiểm tra", "Đóng", {}, "Kiểm tra %1", "Chỉ hiển thị mẫu kiểm tra khi có một cửa sổ"},
    {"測試圖", "關閉測試圖", {"紅色", "綠色", "藍色", "白色", "黑色", "色帶", "豎線", "橫線"}, nullptr,
     "多個窗口打開時無法顯示測試圖"},
};

const char* const kCaptionNames[test_chart::kPatterns] = {"label_red",   "label_green", "label_blue",  "label_white",
                                                          "label_black", "label_color", "label_hline", "label_wline"};

using PanelWidgets::pixels;

}

const char test_chart::kPictureNormal[] = "color: rgb(255, 255, 255);";
const char test_chart::kPictureFocused[] = "border:1px solid rgb(255,171,84);";
const char test_chart::kButtonNormal[] =
    "color: rgb(255, 255, 255);background-color:rgb(0,0,0);border:1px solid rgb(255,255,255);";
const char test_chart::kButtonFocused[] =
    "color: rgb(255, 255, 255); background-color:rgb(0,0,0);border:1px solid rgb(255,171,84);";

QPixmap test_chart::picture(int value)
{
    constexpr int kSize = 48;
    static const QColor kSolid[6] = {Qt::black, QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255), Qt::white,
                                     Qt::black};
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(value >= 1 && value <= 5 ? kSolid[value] : QColor(Qt::black));
    QPainter p(&pixmap);
    switch (value) {
    case 5: // black, framed so that it stands out on the dark page
        p.setPen(QColor(128, 128, 128));
        p.drawRect(0, 0, kSize - 1, kSize - 1);
        break;
    case 6: { // the usual eight bars
        const QColor bars[8] = {Qt::white, Qt::yellow, Qt::cyan, Qt::green, Qt::magenta, Qt::red, Qt::blue, Qt::black};
        for (int i = 0; i < 8; ++i)
            p.fillRect(i * kSize / 8, 0, kSize / 8, kSize, bars[i]);
        break;
    }
    case 7:
        for (int x = 1; x < kSize; x += 4)
            p.fillRect(x, 0, 1, kSize, Qt::white);
        break;
    case 8:
        for (int y = 1; y < kSize; y += 4)
            p.fillRect(0, y, kSize, 1, Qt::white);
        break;
    default: break;
    }
    p.end();
    return pixmap;
}

test_chart::test_chart(QWidget* parent)
    : VyrPage(16, "test_chart", UiText::TitleTestChart, parent)
{
    frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setGeometry(4, 36, 312, 200);
    frame->setStyleSheet(QStringLiteral("#frame{\nbackground-color: rgb(16, 16, 28);\nborder:1px solid rgb(255, 255, 255);"
                                        "\nborder-radius:6px;padding:2px 4px\n}"));
    for (int i = 0; i < kPatterns; ++i) {
        const int column = i % 4, row = i / 4;
        auto* pic = new QLabel(frame);
        pic->setObjectName(QStringLiteral("label_test%1").arg(i + 1));
        pic->setGeometry(19 + 76 * column, 6 + 84 * row, 50, 50);
        pic->setAlignment(Qt::AlignCenter);
        pic->setPixmap(picture(i + 1));
        label_test[i] = pic;
        auto* caption = new QLabel(frame);
        caption->setObjectName(QLatin1String(kCaptionNames[i]));
        caption->setGeometry(6 + 76 * column, 57 + 84 * row, 76, 28);
        caption->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        caption->setWordWrap(true);
        caption->setFont(pixels(caption, 10));
        caption->setStyleSheet(QStringLiteral("color:rgb(255,255,255);"));
        label_caption[i] = caption;
    }
    Button_closetest = new QPushButton(frame);
    Button_closetest->setObjectName(QStringLiteral("Button_closetest"));
    Button_closetest->setGeometry(96, 172, 120, 22);
    Button_closetest->setFont(pixels(Button_closetest, 12));
    Button_closetest->setFocusPolicy(Qt::NoFocus);
    Button_closetest->setAutoDefault(false);
    Button_closetest->setStyleSheet(QString::fromLatin1(kButtonNormal));

    label_refused = new QLabel(this);
    label_refused->setObjectName(QStringLiteral("label_refused"));
    // Across the whole inside of the frame, so that no caption shows beside it.
    label_refused->setGeometry(6, 84, 308, 72);
    label_refused->setAlignment(Qt::AlignCenter);
    label_refused->setWordWrap(true);
    label_refused->setFont(pixels(label_refused, 13));
    label_refused->setStyleSheet(QStringLiteral("color:rgb(255,255,255);background-color: rgb(33, 36, 53);"
                                                "border:1px solid rgb(255,0,0);"));
    label_refused->hide();

    menulist_init();
    language_changed();
}

void test_chart::menulist_init()
{
    focus_list.clear();
    for (QLabel* pic : label_test) {
        focus_list.push_back(pic);
        pic->setStyleSheet(QString::fromLatin1(kPictureNormal));
    }
    focus_list.push_back(Button_closetest);
    ui_select = 0;
    focused_picture = label_test[0];
    focus_widget = focused_picture;
    focused_picture->setStyleSheet(QString::fromLatin1(kPictureFocused));
}

void test_chart::language_changed()
{
    const Texts& t = kTexts[languageColumn(g_language.load())];
    label_title->setText(QString::fromUtf8(t.title));
    for (int i = 0; i < kPatterns; ++i)
        label_caption[i]->setText(t.numbered ? QString::fromUtf8(t.numbered).arg(i + 1) : QString::fromUtf8(t.captions[i]));
    Button_closetest->setText(QString::fromUtf8(t.close));
    label_refused->setText(QString::fromUtf8(t.refused));
}

void test_chart::syncUpdate(int)
{
    if (PageNav::languageChanged())
        language_changed();
    // The scaler takes a pattern it cannot show (more than one window on) back out of the block
    // before it raises this refresh; say so instead of letting the operator wait for it.
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    c331_manage* scaler = c331_manage::p_c331_manage;
    if (!store || requested == 0 || (scaler && scaler->change_flag.load() != 0))
        return;
    uint8_t now;
    {
        ScalerHandOver lock;
        now = store->view()[blk::kTestPattern];
    }
    // The first refresh after the scaler took the request settles it: a later change is another
    // writer's. A refusal puts back what the request replaced; any other value was written
    // meanwhile by someone else (a PC tool) and is no refusal.
    const uint8_t asked = std::exchange(requested, 0);
    if (now != asked && now == replaced) {
        writeLogMsg(LOG_WARNING, "test pattern " + std::to_string(asked) + " refused by the scaler");
        label_refused->show();
        label_refused->raise();
    }
}

uint8_t test_chart::writePattern(uint8_t value)
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store)
        return 0;
    ScalerHandOver handOver;
    const uint8_t before = store->view()[blk::kTestPattern];
    store->setU8(blk::kTestPattern, value);
    handOver.commit();
    return before;
}

void test_chart::slot_Button_on_clicked()
{
    const uint8_t value = ui_select < kPatterns ? uint8_t(ui_select + 1) : 0;
    replaced = writePattern(value);
    requested = value;
}

void test_chart::slot_Button_back_clicked()
{
    writePattern(0);
    switched_off_ = true;
    requested = 0;
    PageNav::back(this);
}

void test_chart::closeEvent(QCloseEvent* event)
{
    // MODE (and any other way the page is closed) must not leave a pattern on the wall.
    if (!switched_off_) {
        writePattern(0);
        switched_off_ = true;
        requested = 0;
    }
    VyrPage::closeEvent(event);
}

void test_chart::setFocused(int item, bool focused)
{
    if (item == kCloseItem) {
        Button_closetest->setStyleSheet(QString::fromLatin1(focused ? kButtonFocused : kButtonNormal));
        return;
    }
    label_test[item]->setStyleSheet(QString::fromLatin1(focused ? kPictureFocused : kPictureNormal));
    if (focused)
        focused_picture = label_test[item];
}

void test_chart::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    const int key = event->key();
    if (key == PanelKey::OK || key == PanelKey::Left || key == PanelKey::Right)
        label_refused->hide();
    switch (key) {
    case PanelKey::OK:
        qDebug("this is OK button(test_chart)[Release]\n");
        if (ui_select < kPatterns)
            slot_Button_on_clicked();
        else
            slot_Button_back_clicked();
        break;
    case PanelKey::Right:
    case PanelKey::Left:
        if (key == PanelKey::Right)
            qDebug("this is right-code [test_chart][Release] ui_select=%#x", ui_select);
        else
            qDebug("this is left-code [test_chart][Release] ui_select=%#x", ui_select);
        setFocused(ui_select, false);
        if (key == PanelKey::Right)
            ui_select = uint8_t(ui_select >= kCloseItem ? 0 : ui_select + 1);
        else
            ui_select = uint8_t(ui_select == 0 ? kCloseItem : ui_select - 1);
        setFocused(ui_select, true);
        focus_widget = focus_list[ui_select];
        break;
    case PanelKey::Back:
        qDebug("this is back button(test_chart)[Release]\n");
        slot_Button_back_clicked();
        break;
    case PanelKey::Mode:
        qDebug("this is mode-code [test_chart][Release]");
        PageNav::modeShortcut();
        break;
    default:
        break;
    }
}
