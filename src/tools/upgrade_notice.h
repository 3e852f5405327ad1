#pragma once
#include "ui/panel_notice.h"

#include <QPointer>
#include <string>

// The upgrade's notices over the panel.
namespace UpgradeNotice {
// GUI thread, once the panel is shown: when the last FPGA 0 image write did not end with its
// read-back (a power cut between its erase and its last chunk), FPGA 0 holds half an image, the
// wall may stay dark, and only the USB upgrade run again mends it: logged and said until OK or BACK.
void showAtStart();
// Any thread: a program refused in place of the running one (`reason` as the log has it), said
// until OK or BACK.
void showRefusal(const std::string& reason);
}

extern QPointer<PanelNotice> g_upgrade_notice;
extern QPointer<PanelNotice> g_refusal_notice;
