// The home screen, the root menu with its bar, the pop-ups and the pages shown without a modal loop:
// every text fits its widget in each language, in a font that reads at arm's length. The pages of
// the page table are checked with their titles (pages_test).
#include "panel_fixture.h"

#include "base/global.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "tools/firmwareupdate.h"
#include "ui/lockwindow.h"
#include "ui/mainwindow.h"
#include "ui/pages_picture/custommode.h"
#include "ui/panel_notice.h"
#include "ui/syncupdate.h"
#include "ui/tip.h"

#include "test_root.h"

#include <QDir>
#include <QPushButton>

#include <memory>

TEST_F(PanelTest, EveryTextFitsItsWidgetInEveryLanguage)
{
    // The longest values these screens show.
    g_str_ip = QStringLiteral("255.255.255.255");
    store->setU16(blk::kLedWidth, 16384);
    store->setU16(blk::kLedHeight, 16384);
    store->mode[0][0] = store->mode[0][1] = blk::kMarkerSaved;
    store->setU16(blk::kCurrentMode, 1); // the "in use" badge of slot 1
    // A store and a save that fail: the store bar's title and the notice say so.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(TestRoot::path("/data/modes/custom_mode2.atomic-tmp"))));
    ASSERT_TRUE(QDir().remove(QString::fromStdString(TestRoot::path("/data/ram_device_info"))));
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(TestRoot::path("/data/ram_device_info"))));
    QStringList bad;
    for (int language = 0; language < 5; ++language) {
        g_language = uint8_t(language);
        auto check = [&](QWidget* window, const QString& name) {
            bad << Panel::misfits(window, name + QString::number(language));
            bad << Panel::lowContrast(window, name + QString::number(language));
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
        root->mode_buttons.at(1)->click(); // not the slot in use, whose badge the pick colours
        check(root, QStringLiteral("root_store_failed"));
        store->setU16(blk::kContrast, uint16_t(20 + language));
        SyncUpdate::pInstance()->para_sync(1);
        check(SyncUpdate::pInstance()->notice(), QStringLiteral("save_notice"));
        root->on_toolButton3_clicked();
        check(root, QStringLiteral("root_recall"));
        root->on_deletewidgetmode_clicked();
        root->on_tools_clicked();

        for (int type = 3; type <= 5; ++type) {
            g_tip->tip_create(type);
            check(g_tip, QStringLiteral("tip%1_").arg(type));
        }
        Panel::tick(300);

        std::unique_ptr<CustomMode> modes(new CustomMode);
        check(modes.get(), QStringLiteral("CustomMode"));
        std::unique_ptr<FirmwareUpdate> update(new FirmwareUpdate);
        for (int i = 0; i < 150; ++i) // up to the longest dot line
            update->update_time_deal();
        check(update.get(), QStringLiteral("FirmwareUpdate"));
    }
    EXPECT_TRUE(bad.isEmpty()) << bad.join(QLatin1Char('\n')).toStdString();
}
