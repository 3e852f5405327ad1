#include "ui/panel_notice.h"

#include "base/global.h"
#include "ui/pagenav.h"
#include "ui/panelkeys.h"
#include "ui/topwindow.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>

PanelNotice::PanelNotice(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("PanelNotice"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setGeometry(20, 50, 280, 140);
    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame_notice"));
    frame->setGeometry(0, 0, 280, 140);
    frame->setStyleSheet(QStringLiteral("#frame_notice{background-color: rgb(16, 16, 28);border:2px solid rgb(255, 80, 80);}"));
    label_ = new QLabel(frame);
    label_->setObjectName(QStringLiteral("label_notice"));
    label_->setGeometry(10, 10, 260, 120);
    label_->setAlignment(Qt::AlignCenter);
    label_->setWordWrap(true);
    label_->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);font: 14px;"));
}

QString PanelNotice::text() const
{
    return label_->text();
}

void PanelNotice::show(QPointer<PanelNotice>& slot, const QString& text)
{
    if (!slot) {
        slot = new PanelNotice(nullptr);
        slot->setAttribute(Qt::WA_DeleteOnClose);
    }
    slot->label_->setText(text);
    slot->QDialog::show();
    TopWindow::raise(slot);
}

void PanelNotice::takeDown(QPointer<PanelNotice>& slot)
{
    if (!slot)
        return;
    slot->close();
    slot = nullptr;
    PageNav::activate(g_page_focus.load()); // the keys to the window now on top
}

void PanelNotice::keyPressEvent(QKeyEvent* event)
{
    event->accept();
}

void PanelNotice::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    if (event->key() != PanelKey::OK && event->key() != PanelKey::Back)
        return;
    close();
    PageNav::activate(g_page_focus.load()); // the keys back to the page under it
}
