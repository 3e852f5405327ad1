// Every text of every page fits its widget in each language, in a font that reads at arm's length.
#include "panel_fixture.h"

#include "base/global.h"
#include "params/vyrrampara.h"
#include "tools/firmware_usbgrade.h"
#include "tools/firmwareupdate.h"
#include "tools/rcv_recovery.h"
#include "tools/smartmapping.h"
#include "ui/linkcom.h"
#include "ui/linkoption.h"
#include "ui/lockwindow.h"
#include "ui/machinestate.h"
#include "ui/mainwindow.h"
#include "ui/option.h"
#include "ui/outputset.h"
#include "ui/pages_picture/advancedoption.h"
#include "ui/pages_picture/custommode.h"
#include "ui/pages_picture/edidset.h"
#include "ui/pages_picture/imagelayout.h"
#include "ui/pages_picture/imagequality.h"
#include "ui/pages_picture/inputchoose.h"
#include "ui/pages_picture/inputcut.h"
#include "ui/pages_settings/factory.h"
#include "ui/pages_settings/factoryage.h"
#include "ui/pages_settings/lcdshow.h"
#include "ui/pages_settings/ledset.h"
#include "ui/pages_settings/linkwlan.h"
#include "ui/pages_settings/netset.h"
#include "ui/pages_settings/othersetup.h"
#include "ui/pages_settings/quality.h"
#include "ui/pages_settings/temperature.h"
#include "ui/pages_settings/test_chart.h"
#include "ui/tip.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyleOptionButton>
#include <cstring>
#include <memory>

namespace {
constexpr int kMinPixels = 10;

// The room a widget gives its text, or an empty rectangle when it shows no text.
QRect textRoom(QWidget* w, QString* text, bool* wrap)
{
    if (auto* l = qobject_cast<QLabel*>(w)) {
        *text = l->text();
        *wrap = l->wordWrap();
        const int m = l->margin();
        return l->contentsRect().adjusted(m, m, -m, -m);
    }
    if (auto* b = qobject_cast<QPushButton*>(w)) {
        *text = b->text();
        *wrap = false;
        QStyleOptionButton option;
        option.initFrom(b);
        option.text = b->text();
        return b->style()->subElementRect(QStyle::SE_PushButtonContents, &option, b);
    }
    return QRect();
}

// One line per text of the window that is too small or does not fit its widget.
QStringList misfits(QWidget* window, const QString& where)
{
    QStringList out;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window))
            continue;
        w->ensurePolished(); // style-sheet fonts take effect here
        QString text;
        bool wrap = false;
        const QRect room = textRoom(w, &text, &wrap);
        if (text.isEmpty())
            continue;
        const QString name = where + QLatin1Char('/') + w->objectName() + QStringLiteral(" \"") + text + QLatin1Char('"');
        const int pixels = QFontInfo(w->font()).pixelSize();
        if (pixels < kMinPixels)
            out << name + QStringLiteral(": font of %1 px").arg(pixels);
        const QFontMetrics fm(w->font());
        const QRect need = wrap ? fm.boundingRect(room, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, text)
                                : fm.boundingRect(QRect(0, 0, 4000, 4000), Qt::AlignLeft | Qt::AlignTop, text);
        if (need.width() > room.width() || need.height() > room.height())
            out << name + QStringLiteral(": needs %1x%2, has %3x%4")
                              .arg(need.width()).arg(need.height()).arg(room.width()).arg(room.height());
    }
    return out;
}

template <class T>
QWidget* make() { return new T; }

QWidget* (*const kPages[])() = {
    make<MachineState>, make<InputChoose>, make<Option>,       make<OutputSet>,     make<InputCut>,   make<EDIDset>,
    make<ImageLayout>,  make<LinkOption>,  make<ImageQuality>, make<AdvancedOption>, make<ledset>,   make<netset>,
    make<lcdshow>,      make<test_chart>,  make<othersetup>,   make<factory>,       make<quality>,    make<temperature>,
    make<linkcom>,      make<linkwlan>,    make<factoryage>,   make<SmartMapping>,  make<rcv_recovery>, make<firmware_usbgrade>,
    make<CustomMode>,   make<FirmwareUpdate>,
};
}

TEST_F(PanelTest, EveryTextFitsItsWidgetInEveryLanguage)
{
    // The longest values these screens show.
    g_str_ip = QStringLiteral("172.168.100.200");
    store->setU16(0x562, 16384);
    store->setU16(0x564, 16384);
    store->mode[0][0] = store->mode[0][1] = 0xAA;
    store->setU16(0x362, 1); // slot 1 is in use
    factoryage_log << QStringLiteral("12-31 23:59 255 255 255");
    QStringList bad;
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        auto check = [&](QWidget* window, const QString& name) {
            bad << misfits(window, name + QString::number(language));
            Panel::shot(window, QStringLiteral("fit_%1_%2").arg(name).arg(language));
        };
        g_lockwindow->language_changed();
        g_lockwindow->ip_changed();
        check(g_lockwindow, QStringLiteral("home"));
        g_lockwindow->syncUpdate(); // shows the size unsigned
        check(g_lockwindow, QStringLiteral("home_refreshed"));

        MainWindow* root = g_mainwindow;
        root->language_changed();
        root->ip_changed();
        check(root, QStringLiteral("root"));
        root->on_tools_clicked();
        root->on_toolButton4_clicked();
        check(root, QStringLiteral("root_store"));
        root->on_toolButton3_clicked();
        check(root, QStringLiteral("root_recall"));
        root->on_deletewidgetmode_clicked();
        root->on_tools_clicked();

        for (int type = 3; type <= 5; ++type) {
            g_tip->tip_create(type);
            check(g_tip, QStringLiteral("tip%1_").arg(type));
        }
        Panel::tick(300);

        for (auto page : kPages) {
            std::unique_ptr<QWidget> w(page());
            if (auto* update = qobject_cast<FirmwareUpdate*>(w.get()))
                for (int i = 0; i < 150; ++i) // the longest dot line
                    update->update_time_deal();
            check(w.get(), w->objectName());
        }
    }
    EXPECT_TRUE(bad.isEmpty()) << bad.join(QLatin1Char('\n')).toStdString();
}
