#pragma once
#include "ui/panel_notice.h"

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <vector>

class VyrRamPara;

// After every change of the parameter block: refreshes the page on top and saves the persistent
// part of the block. The shadow copy follows only what was really saved. User-mode files are
// written by their askers (a tool's apply, its bulk replacement, the root menu's store tool), not
// here. While the file cannot be written the save is tried again every kRetryTicks, and the panel
// says so for each change that is not saved, until a save holds. GUI thread only.
class SyncUpdate : public QObject {
    Q_OBJECT
public:
    static SyncUpdate* p_SyncUpdate;
    static SyncUpdate* pInstance();
    // From the tick: tries a failed save again once kRetryTicks have passed.
    void retryFailedSave();
    bool saveFailed() const;
    PanelNotice* notice() const { return notice_.data(); }
    static constexpr uint32_t kRetryTicks = 100;

public Q_SLOTS:
    void para_sync(int code);

private:
    SyncUpdate() = default;
    void refreshTop(int code);
    void writeBack(VyrRamPara& store);
    void saveFailedFor(const uint8_t* snapshot);
    uint32_t failed_at_ = 0;
    std::vector<uint8_t> unsaved_; // the persistent bytes the notice was last shown for
    QPointer<PanelNotice> notice_;
};
