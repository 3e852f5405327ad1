// The refresh and save slot: what is saved, when the shadow follows, user-mode requests and files.
#include "panel_fixture.h"
#include "panel_store.h"
#include "second_writer.h"

#include "params/block_layout.h"
#include "ui/panel_notice.h"

#include "base/bytes.h"
#include "scaler/c331_manage.h"
#include "base/global.h"
#include "ui/linkoption.h"
#include "ui/mainwindow.h"
#include "ui/pagenav.h"
#include "tools/smartmapping.h"
#include "ui/syncupdate.h"
#include "test_root.h"
#include "ui/tip.h"
#include "base/utils.h"
#include "params/vyrrampara.h"
#include "store_face.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <cstring>
#include <thread>

namespace {
const char* const kParaFile = "/data/ram_device_info";

bool fileHoldsBlock(VyrRamPara* store)
{
    const QByteArray file = TestRoot::readFile(kParaFile);
    return file.size() >= int(2 + kPersistSize) && uint8_t(file[0]) == 0xAA && uint8_t(file[1]) == 0xAA &&
           memcmp(file.constData() + 2, testBlock(store) + kPersistStart, kPersistSize) == 0;
}

bool shadowIsBlock(VyrRamPara* store) { return memcmp(store->shadow, testBlock(store), kBlockSize) == 0; }
}

TEST_F(PanelTest, PersistentChangeIsSavedAndTheShadowFollows)
{
    store->setU16(0x880, 77);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_TRUE(fileHoldsBlock(store));
    EXPECT_TRUE(shadowIsBlock(store));
    EXPECT_FALSE(SyncUpdate::pInstance()->saveFailed());
}

TEST_F(PanelTest, VolatileChangeRefreshesButWritesNothing)
{
    QDir().remove(QString::fromStdString(TestRoot::path(kParaFile)));
    const int syncsBefore = TestRoot::shellLog().count(QStringLiteral("sync"));
    store->setU16(0x100, 1920);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_FALSE(TestRoot::exists(kParaFile));
    EXPECT_EQ(TestRoot::shellLog().count(QStringLiteral("sync")), syncsBefore);
    EXPECT_EQ(getU16(store->shadow + 0x100), 0) << "the shadow keeps its old volatile bytes";
}

// A tool's bytes written and not yet applied wait for its own apply: the refresh another writer
// raises saves that writer's change, but neither saves the tool's bytes nor takes them into the
// shadow, nor serves its store request. A byte another writer has changed since is that writer's.
TEST_F(PanelTest, RefreshLeavesAToolsUnappliedBytesAndStoreRequestToItsApply)
{
    const std::pair<uint32_t, uint8_t> tool[] = {{0x362, 4}, {0x364, 16}, {0x882, 77}, {0x884, 78}};
    for (const auto& [offset, value] : tool)
        ASSERT_EQ(store->VyrRamParaDeal(&value, 1, offset), 0u);
    store->setU16(0x880, 33); // another writer's change
    store->setU16(0x884, 60); // and over one of the tool's bytes
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(Panel::savedByte(0x880), 33);
    EXPECT_EQ(Panel::savedByte(0x884), 60);
    EXPECT_EQ(store->shadow[0x884], 60);
    for (uint32_t offset : {0x362u, 0x364u, 0x882u}) {
        EXPECT_EQ(Panel::savedByte(offset), offset == 0x882 ? 50 : 0) << std::hex << offset;
        EXPECT_EQ(store->shadow[offset], offset == 0x882 ? 50 : 0) << std::hex << offset;
    }
    EXPECT_FALSE(store->VyrUserModeSaved(15));
    EXPECT_EQ(store->u16(0x364), 16);
}

TEST_F(PanelTest, SaveRequestEqualToTheShadowOrZeroStoresNothing)
{
    putU16(store->shadow + 0x364, 5);
    store->setU16(0x364, 5);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_FALSE(store->VyrUserModeSaved(4));
    store->setU16(0x364, 0);
    SyncUpdate::pInstance()->para_sync(1);
    for (uint32_t m = 0; m < kModeCount; ++m)
        EXPECT_FALSE(store->VyrUserModeSaved(m)) << m;
}

TEST_F(PanelTest, FailedWriteKeepsTheShadowAndIsTriedAgain)
{
    // A folder in the file's place makes the save fail, as a broken flash would.
    const QString file = QString::fromStdString(TestRoot::path(kParaFile));
    ASSERT_TRUE(QDir().remove(file));
    ASSERT_TRUE(TestRoot::writeFile(std::string(kParaFile) + "/blocker", "x"));
    uint8_t shadow[kBlockSize];
    memcpy(shadow, store->shadow, kBlockSize);
    store->setU16(0x882, 55);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_TRUE(SyncUpdate::pInstance()->saveFailed());
    EXPECT_EQ(memcmp(shadow, store->shadow, kBlockSize), 0) << "not saved, so not taken as saved";

    ASSERT_TRUE(QDir(file).removeRecursively());
    Panel::tick(SyncUpdate::kRetryTicks - 1);
    EXPECT_FALSE(TestRoot::exists(kParaFile)) << "the retry waits a second";
    Panel::tick(1);
    EXPECT_FALSE(SyncUpdate::pInstance()->saveFailed());
    EXPECT_TRUE(fileHoldsBlock(store));
    EXPECT_EQ(getU16(store->shadow + 0x882), 55);
}

// While the parameter file cannot be written, a tool's apply is answered failure and the panel says
// the settings are not saved; the retry saves the latest values once it can and takes that down.
TEST_F(PanelTest, ApplyIsAnsweredFailureAndThePanelToldWhileSettingsCannotBeSaved)
{
    const QString file = QString::fromStdString(TestRoot::path(kParaFile));
    ASSERT_TRUE(QDir().remove(file));
    ASSERT_TRUE(TestRoot::writeFile(std::string(kParaFile) + "/blocker", "x"));
    g_language = 1;
    SecondWriter tool = SecondWriter::inProcess();
    EXPECT_EQ(tool.set16(blk::kContrast, 37), 1) << "applied, but a restart would lose it";
    Panel::refresh(1);
    ASSERT_TRUE(SyncUpdate::pInstance()->notice() && SyncUpdate::pInstance()->notice()->isVisible());
    EXPECT_TRUE(SyncUpdate::pInstance()->notice()->text().startsWith("Settings are not being saved"));
    EXPECT_EQ(tool.request(0xB0, {'1', 0, 6, 30, 0}), 1) << "single parameters alike";
    EXPECT_EQ(tool.request(0xA0, {16, 0x10, 0, 0}), 1) << "the picture's factory defaults alike";
    EXPECT_EQ(tool.request(0xA0, {161, 0x10, 0, 0x10}), 1) << "window 0's stitching alike";
    EXPECT_EQ(tool.set16(blk::kContrast, 38), 1);
    ASSERT_TRUE(QDir(file).removeRecursively());
    Panel::tick(SyncUpdate::kRetryTicks);
    EXPECT_FALSE(SyncUpdate::pInstance()->notice());
    EXPECT_EQ(Panel::savedByte(blk::kContrast), 38) << "the latest value";
    EXPECT_EQ(tool.set16(blk::kContrast, 39), 0);
    // A write that fails where the place looks right: a folder takes its temporary file's name.
    ASSERT_TRUE(TestRoot::writeFile(std::string(kParaFile) + ".atomic-tmp/blocker", "x"));
    EXPECT_EQ(tool.set16(blk::kContrast, 40), 1);
}

TEST_F(PanelTest, ShadowDoesNotFollowWhileAChangeIsPending)
{
    c331_manage::p_c331_manage->change_flag = 1;
    store->setU16(0x880, 12);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_TRUE(fileHoldsBlock(store)) << "saving early loses nothing";
    EXPECT_NE(getU16(store->shadow + 0x880), 12) << "the scaler has not applied it yet";
    c331_manage::p_c331_manage->change_flag = 0;
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_TRUE(shadowIsBlock(store));
}

TEST_F(PanelTest, UsbCodesShowTheirPopUpsOnlyOnTheToolPages)
{
    g_page_focus = 1;
    SyncUpdate::pInstance()->para_sync(100);
    EXPECT_EQ(g_tip_flag.load(), 0) << "nothing on the root menu";

    g_language = 1;
    auto* page = new SmartMapping;
    g_smartmapping = page;
    g_page_focus = 24;
    SyncUpdate::pInstance()->para_sync(100);
    ASSERT_EQ(g_tip_flag.load(), 1);
    EXPECT_EQ(g_tip->contentLabel()->text(), QStringLiteral("USB driver is connected,please wait..."));
    SyncUpdate::pInstance()->para_sync(101);
    EXPECT_EQ(g_tip->contentLabel()->text(), QStringLiteral("USB drive is unplugged."));
    SyncUpdate::pInstance()->para_sync(102);
    EXPECT_EQ(g_tip->contentLabel()->text(), QStringLiteral("Reading the data,pls wait"));
    delete page;
}

TEST_F(PanelTest, NoRefreshForACodeWithoutItsPageButTheSaveStillRuns)
{
    g_page_focus = 6; // the output menu is not open
    store->setU16(0x880, 33);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_TRUE(fileHoldsBlock(store));
    g_page_focus = 40;
    store->setU16(0x880, 34);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_TRUE(fileHoldsBlock(store));
}

TEST_F(PanelTest, CheckMarkOnTheCommunicationMenuNeitherDelaysTheSaveNorBlocksTheWorkers)
{
    auto* page = new LinkOption;
    g_linkoption = page;
    g_page_focus = 10;
    store->setU16(0x880, 21);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(g_tip_flag.load(), 1);
    EXPECT_TRUE(fileHoldsBlock(store)) << "saved while the pop-up is still up";

    // A worker's signal goes through at once while the pop-up is up, and is served afterwards.
    store->setU16(0x880, 22);
    std::thread worker([this] { store->test_signal(1); });
    worker.join();
    EXPECT_TRUE(Utils::_test_signal_mutex.tryLock());
    Utils::_test_signal_mutex.unlock();
    ASSERT_TRUE(Panel::waitFor([this] { return fileHoldsBlock(store); }));
    delete page;
}
