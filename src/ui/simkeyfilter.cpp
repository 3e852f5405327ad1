#include "ui/simkeyfilter.h"

#include "ui/panelkeys.h"

#include <QCoreApplication>
#include <QKeyEvent>

SimKeyFilter::SimKeyFilter(QObject* parent)
    : QObject(parent)
{
}

int SimKeyFilter::panelKey(int desktopKey)
{
    switch (desktopKey) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return PanelKey::OK;
    case Qt::Key_Left:
        return PanelKey::Left;
    case Qt::Key_Right:
        return PanelKey::Right;
    case Qt::Key_M:
        return PanelKey::Mode;
    case Qt::Key_Escape:
    case Qt::Key_Backspace:
        return PanelKey::Back;
    default:
        return 0;
    }
}

bool SimKeyFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const int code = panelKey(key->key());
    if (code == 0)
        return false;
    // The panel codes are not mapped again, so the re-sent event passes this filter.
    QKeyEvent panel(event->type(), code, key->modifiers(), QString(), key->isAutoRepeat(), ushort(key->count()));
    QCoreApplication::sendEvent(watched, &panel);
    return true;
}
