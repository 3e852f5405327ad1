#include "ui/pages_settings/factoryage.h"

#include "base/global.h"
#include "base/utils.h"
#include "fpga/fpga_manage.h"
#include "ui/mainwindow.h"
#include "ui/pagenav.h"

#include <QDateTime>
#include <QFrame>
#include <QLabel>
#include <QMutexLocker>
#include <QPushButton>

QPointer<factoryage> g_factoryage;

namespace {

const char* const kStatusNames[5] = {"DDR0", "DDR1", "DE", "HS", "VS"};
const char kWaiting[] = "正在老化中...";
const char kTimeFormat[] = "MM-dd hh:mm";
constexpr int kSidePixels = 10;
constexpr int kButtonPixels = 11;

QString threeDigits(int value) { return QString::number(value).rightJustified(3, QLatin1Char('0')); }

// The local time, read under the lock every reader of the clock shares.
QDateTime localNow()
{
    QMutexLocker locker(&Utils::_system_mutex);
    return fpga_manage::clock ? fpga_manage::clock() : QDateTime::currentDateTime();
}

// One sample as a line of the page, or an empty string for an entry that is not five fields.
QString renderEntry(const QString& entry)
{
    const QStringList parts = entry.split(QLatin1Char(' '), Qt::KeepEmptyParts);
    if (parts.size() != 5)
        return QString();
    const int counter = parts.at(2).toInt();
    const int status = parts.at(3).toInt();
    const int third = parts.at(4).toInt();
    QString line = parts.at(0) + QLatin1Char(' ') + parts.at(1) + QLatin1Char(' ') + threeDigits(counter) + QLatin1Char(' ');
    for (int bit = 0; bit < 5; ++bit) {
        const char* colour = (status >> bit) & 1 ? "<font color = #00FF00 >%1</font>" : "<font color = #FF0000 >%1</font>";
        line += QString::fromLatin1(colour).arg(QLatin1String(kStatusNames[bit])) + QLatin1Char(' ');
    }
    return line + threeDigits(third);
}

}

factoryage::factoryage(QWidget* parent)
    : VyrPage(23, "factoryage", UiText::TitleFactoryage, parent)
{
    label_title->clear();
    label_title->hide();
    style_normal = QStringLiteral("color:rgb(255,255,255);\nborder:1px solid rgb(255, 255, 255);");
    style_focused = QStringLiteral("color:rgb(255,255,255);\nborder:1px solid rgb(255,171,84);");
    view_font = font();
    view_font.setPixelSize(10);

    frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setGeometry(3, 2, 242, 236);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setLineWidth(0);
    frame->setStyleSheet(QStringLiteral("#frame{\nbackground-color: rgb(16, 16, 28);\n}"));

    auto side = [this](const char* name, int x, int y, int w, int h) {
        auto* l = new QLabel(this);
        l->setObjectName(QLatin1String(name));
        l->setGeometry(x, y, w, h);
        QFont f = l->font();
        f.setPixelSize(kSidePixels);
        l->setFont(f);
        l->setAlignment(Qt::AlignCenter);
        l->setStyleSheet(QStringLiteral("color:rgb(255,255,255);background-color:rgb(16, 16, 28);"));
        return l;
    };
    page_info = side("page_info", 260, 20, 50, 20);
    label_page = side("label_page", 260, 45, 50, 17);
    label_3 = side("label_3", 250, 130, 70, 17);
    label_5 = side("label_5", 250, 150, 70, 17);
    label_10 = side("label_10", 250, 170, 70, 17);
    label_20 = side("label_20", 250, 190, 70, 17);
    label_more = side("label_more", 250, 210, 70, 17);

    auto button = [this](const char* name, const char* text, int y) {
        auto* b = new QPushButton(this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(260, y, 50, 20);
        QFont f = b->font();
        f.setPixelSize(kButtonPixels);
        b->setFont(f);
        b->setText(QLatin1String(text));
        return b;
    };
    ButtonNext = button("ButtonNext", "Nex", 70);
    ButtonPriv = button("ButtonPriv", "Priv", 100);
    connect(ButtonNext, &QPushButton::clicked, this, &factoryage::on_ButtonNext_clicked);
    connect(ButtonPriv, &QPushButton::clicked, this, &factoryage::on_ButtonPriv_clicked);

    page_index = 0;
    para_init();
    menulist_init();
    ageloginit();
}

void factoryage::menulist_init()
{
    setFocusList({ButtonNext, ButtonPriv}); // Next focused
}

int factoryage::pageCount() const
{
    return (factoryage_log.size() + kLinesPerPage - 1) / kLinesPerPage;
}

void factoryage::showCounts(uint32_t d3, uint32_t d5, uint32_t d10, uint32_t d20, uint32_t more, int entries)
{
    label_3->setText(QString::number(d3) + QStringLiteral("<3"));
    label_5->setText(QString::number(d5) + QStringLiteral("<5"));
    label_10->setText(QString::number(d10) + QStringLiteral("<10"));
    label_20->setText(QString::number(d20) + QStringLiteral("<20"));
    label_more->setText(QString::number(more) + QStringLiteral(">20"));
    page_info->setText(QString::number(entries));
}

void factoryage::ageloginit()
{
    const QDateTime now = localNow();
    delete view;
    view = new QWidget(frame);
    view->setObjectName(QStringLiteral("view"));
    view->setGeometry(0, 0, 280, 236);
    view_label = new QLabel(view);
    view_label->setObjectName(QStringLiteral("view_label"));
    view_label->setGeometry(0, 0, 260, 236);
    view_label->setFont(view_font);
    view_label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    view_label->setFrameShape(QFrame::NoFrame);
    view_label->setStyleSheet(QStringLiteral("background-color: #10101C;color: #FFFFFF;"));
    if (!factoryage_log.isEmpty()) {
        update_agelog();
    } else {
        view_label->setTextFormat(Qt::PlainText);
        view_label->setText(now.toString(QLatin1String(kTimeFormat)) + QStringLiteral("  ") + QString::fromUtf8(kWaiting));
        page_text.clear();
        showCounts(0, 0, 0, 0, 0, 0);
        label_page->setText(QStringLiteral("0/0"));
    }
    view->show();
}

void factoryage::update_agelog()
{
    if (factoryage_log.isEmpty()) {
        ageloginit();
        return;
    }
    page_text.clear();
    const int n = factoryage_log.size();
    const int start = page_index * kLinesPerPage;
    const int end = std::min(start + kLinesPerPage, n);
    for (int i = start; i < end; ++i) {
        const QString line = renderEntry(factoryage_log.at(i));
        if (line.isEmpty())
            continue; // not a sample of five fields
        page_text += i == start ? line : QStringLiteral("<br>") + line;
    }
    view_label->setTextFormat(Qt::RichText);
    view_label->setText(page_text);
    showCounts(uint32_t(factoryage_log_diff3), uint32_t(factoryage_log_diff5), uint32_t(factoryage_log_diff10),
               uint32_t(factoryage_log_diff20), uint32_t(factoryage_log_diffmore), n);
    label_page->setText(QString::number(page_index + 1) + QLatin1Char('/') + QString::number(pageCount()));
}

void factoryage::on_ButtonNext_clicked()
{
    const int pages = pageCount();
    if (page_index >= pages)
        return;
    page_index = uint8_t(page_index + 1 >= pages ? 0 : page_index + 1);
    update_agelog();
}

void factoryage::on_ButtonPriv_clicked()
{
    if (pageCount() == 0 || page_index == 0)
        return;
    --page_index;
    update_agelog();
}

void factoryage::slot_Button_back_clicked()
{
    // The advanced menu is re-texted only when the language really changed here.
    PageNav::back(this, PageNav::languageChanged());
}
