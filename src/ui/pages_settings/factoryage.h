#pragma once
#include "ui/vyrpage.h"

#include <QPointer>

class QLabel;

// Ageing-log page (code 23, under the advanced menu). So far its frame in the page navigation and
// the newest sample of the log.
class factoryage : public VyrPage {
    Q_OBJECT
public:
    explicit factoryage(QWidget* parent = nullptr);
    void syncUpdate(int) override {} // the log changes only with the tick's samples
    void update_agelog();            // shows the newest sample

public Q_SLOTS:
    void slot_Button_back_clicked() override;

private:
    QLabel* label_last;
};

extern QPointer<factoryage> g_factoryage;
