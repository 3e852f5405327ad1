#include "ui/linkcom.h"

#include "base/global.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

QPointer<linkcom> g_linkcom;

namespace {
const char* const kTexts[5][4] = {
    {"串口连接", "波特率", "数据位", "停止位"},
    {"Serial port", "Baud rate", "Data bits", "Stop bit"},
    {"COM-порт", "Скорость передачи", "Биты данных", "Бит остановки"},
    {"Cài đặt cổng nối tiếp", "Tốc độ truyền", "Bit dữ liệ", "Dừng bit"},
    {"串口連接", "波特率", "數據位", "停止位"},
};
}

linkcom::linkcom(QWidget* parent)
    : VyrPage(21, "linkcom", UiText::TitleLinkcom, parent)
{
    frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setGeometry(10, 42, 300, 190);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Raised);
    frame->setStyleSheet(QStringLiteral("#frame\n{background-color: rgb(16, 16, 28);border:1px solid rgb(255, 255, 255);\n"
                                        "border-radius:6px;padding:2px 4px}"));
    auto label = [this](const char* name, int y) {
        auto* l = new QLabel(frame);
        l->setObjectName(QLatin1String(name));
        l->setGeometry(10, y, 175, 17);
        l->setStyleSheet(QStringLiteral("color:rgb(255,255,255);"));
        QFont f = l->font();
        f.setPixelSize(12);
        l->setFont(f);
        return l;
    };
    auto value = [this](const char* name, int y, const char* text) {
        auto* b = new QPushButton(frame);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(190, y, 100, 24);
        b->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);\nborder:1px solid rgb(255, 255, 255);"));
        QFont f = b->font();
        f.setPixelSize(12);
        b->setFont(f);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoDefault(false);
        b->setText(QLatin1String(text));
        return b;
    };
    label_baud = label("label_baud", 14);
    label_bit = label("label_bit", 48);
    label_stop = label("label_stop", 82);
    Button_baud = value("Button_baud", 10, "115200");
    pushButton = value("pushButton", 44, "8");
    pushButton_2 = value("pushButton_2", 78, "1");
    language_changed();
}

void linkcom::language_changed()
{
    const auto& t = kTexts[languageColumn(g_language.load())];
    label_title->setText(QString::fromUtf8(t[0]));
    label_baud->setText(QString::fromUtf8(t[1]));
    label_bit->setText(QString::fromUtf8(t[2]));
    label_stop->setText(QString::fromUtf8(t[3]));
}
