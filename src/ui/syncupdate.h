#pragma once
#include <QObject>
#include <cstdint>

class VyrRamPara;

// After every change of the parameter block: refreshes the page on top and saves the persistent
// part of the block. The shadow copy follows only what was really saved. User-mode files are
// written by their askers (a tool's apply, its bulk replacement, the root menu's store tool), not
// here. GUI thread only.
class SyncUpdate : public QObject {
    Q_OBJECT
public:
    static SyncUpdate* p_SyncUpdate;
    static SyncUpdate* pInstance();
    // From the tick: tries a failed save again once kRetryTicks have passed.
    void retryFailedSave();
    bool saveFailed() const { return save_failed_; }
    static constexpr uint32_t kRetryTicks = 100;

public Q_SLOTS:
    void para_sync(int code);

private:
    SyncUpdate() = default;
    void refreshTop(int code);
    void writeBack(VyrRamPara& store);
    bool save_failed_ = false;
    uint32_t failed_at_ = 0;
};
