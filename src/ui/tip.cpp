#include "ui/tip.h"

#include "base/global.h"
#include "ui/pagenav.h"
#include "ui/texts.h"
#include "ui/topwindow.h"

#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <cstdio>

QPointer<TIP> g_tip;

namespace {
constexpr int kShownTicks = 300;
const char* const kGrey = "background-color:rgb(136, 138, 133);";
}

TIP::TIP(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("TIP"));
    setWindowTitle(QStringLiteral("Dialog"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowModality(Qt::ApplicationModal);
    resize(160, 120);
}

void TIP::tip_create(int type)
{
    delete frame_;
    frame_ = nullptr;
    label_ = nullptr;
    if (type == 1) {
        setGeometry(100, 60, 120, 120);
        frame_ = new QFrame(this);
        frame_->setGeometry(0, 0, 120, 120);
        frame_->setStyleSheet(QLatin1String(kGrey));
        label_ = new QLabel(frame_);
        label_->setGeometry(20, 20, 80, 80);
        label_->setPixmap(QPixmap(QStringLiteral(":/png/check_180.png")));
        label_->setScaledContents(true);
        label_->raise();
    } else if (type >= 3 && type <= 5) {
        setGeometry(50, 60, 220, 120);
        frame_ = new QFrame(this);
        frame_->setGeometry(0, 0, 220, 120);
        frame_->setStyleSheet(QLatin1String(kGrey));
        label_ = new QLabel(frame_);
        // Wrapped, and as wide as the frame allows: the English and Russian lines are longer
        // than the pop-up at this size.
        label_->setGeometry(5, 5, 210, 110);
        label_->setStyleSheet(QStringLiteral("font: 15px"));
        label_->setAlignment(Qt::AlignCenter);
        label_->setWordWrap(true);
        const UiText id = type == 3 ? UiText::TipUsbIn : type == 4 ? UiText::TipUsbOut : UiText::TipUsbReading;
        label_->setText(uiText(id));
    } else {
        return;
    }
    frame_->show();
    tip_show();
}

void TIP::tip_show()
{
    // A pop-up already up keeps its count: the new content lives for the rest of the 300 ticks.
    g_tip_flag = 1;
    show();
    TopWindow::raise(this); // also when it is up already, under a page opened since
}

void TIP::tip_outtime_deal()
{
    if (++ticks_ < kShownTicks)
        return;
    hide();
    ticks_ = 0;
    g_tip_flag = 0;
    if (traceOn())
        printf("\n tip over! ");
    PageNav::activate(g_page_focus.load());
}

void TIP::keyPressEvent(QKeyEvent* event)
{
    event->accept();
}

void TIP::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
}

void TIP::closeEvent(QCloseEvent* event)
{
    // Only the tick ends the pop-up.
    event->ignore();
}
