#include "ui/syncupdate.h"

#include "base/bytes.h"
#include "scaler/c331_manage.h"
#include "base/global.h"
#include "ui/mainwindow.h"
#include "ui/pagenav.h"
#include "ui/texts.h"
#include "ui/tip.h"
#include "base/utils.h"
#include "params/vyrrampara.h"

#include <cstdio>
#include <cstring>

SyncUpdate* SyncUpdate::p_SyncUpdate = nullptr;

SyncUpdate* SyncUpdate::pInstance()
{
    if (!p_SyncUpdate)
        p_SyncUpdate = new SyncUpdate();
    return p_SyncUpdate;
}

void SyncUpdate::para_sync(int code)
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    refreshTop(code);
    if (!store)
        return;
    writeBack(*store);
}

void SyncUpdate::refreshTop(int code)
{
    const int top = g_page_focus.load();
    // The front LCD and serial pages have no refresh, nor does a code that names no page.
    if (top == 15 || top == 21 || top >= PageNav::kPageCount) {
        PageNav::languageChanged();
        return;
    }
    if (!PageNav::page(top))
        return;
    PageNav::refresh(top, code);
    TIP* tip = g_tip.data();
    if (!tip)
        return;
    if (top == 1 && g_mainwindow && g_mainwindow->pending_tip) {
        g_mainwindow->pending_tip = 0;
        tip->tip_create(1);
    } else if (top == 10) {
        tip->tip_create(1);
    } else if (top == 24 || top == 26) {
        if (code == 100) {
            if (traceOn())
                printf("\n yes ,got the usb in");
            tip->tip_create(3);
        } else if (code == 101) {
            if (traceOn())
                printf("\n yes ,got the usb out");
            tip->tip_create(4);
        } else if (code == 102) {
            tip->tip_create(5);
        }
    }
}

void SyncUpdate::writeBack(VyrRamPara& store)
{
    uint8_t snapshot[kBlockSize];
    if (!store.saveApplied(snapshot)) {
        saveFailedFor(snapshot);
        return;
    }
    unsaved_.clear();
    PanelNotice::takeDown(notice_);
}

void SyncUpdate::saveFailedFor(const uint8_t* snapshot)
{
    failed_at_ = G_timeTicks.load();
    // Said again for a change not saved since, not for each retry of the same.
    const uint8_t* persistent = snapshot + kPersistStart;
    if (!unsaved_.empty() && memcmp(unsaved_.data(), persistent, kPersistSize) == 0)
        return;
    unsaved_.assign(persistent, persistent + kPersistSize);
    PanelNotice::show(notice_, uiText(UiText::SettingsNotSaved));
}

bool SyncUpdate::saveFailed() const
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    return store && store->saveFailing();
}

void SyncUpdate::retryFailedSave()
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    if (!store || !store->saveFailing() || Utils::getTimeSpace(failed_at_) < kRetryTicks)
        return;
    writeBack(*store);
}
