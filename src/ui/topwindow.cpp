#include "ui/topwindow.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <algorithm>
#include <vector>

namespace {

bool counts(const QWidget* w)
{
    const Qt::WindowType type = w->windowType();
    return type != Qt::Popup && type != Qt::ToolTip && type != Qt::Desktop;
}

class RaiseOnShow : public QObject {
public:
    static RaiseOnShow& instance()
    {
        static RaiseOnShow* filter = new RaiseOnShow(); // lives as long as the process
        return *filter;
    }

    QWidget* top()
    {
        dropClosed();
        for (auto it = order_.rbegin(); it != order_.rend(); ++it)
            if ((*it)->isVisible() && counts(*it))
                return *it;
        return nullptr;
    }

    std::vector<QWidget*> bottomToTop()
    {
        dropClosed();
        std::vector<QWidget*> visible;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->windowType() != Qt::Desktop)
                visible.push_back(w);
        auto rank = [this](QWidget* w) {
            const auto it = std::find(order_.begin(), order_.end(), w);
            return it == order_.end() ? -1 : int(it - order_.begin());
        };
        std::stable_sort(visible.begin(), visible.end(), [&](QWidget* a, QWidget* b) { return rank(a) < rank(b); });
        return visible;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::Show && type != QEvent::ZOrderChange)
            return false;
        if (!watched->isWidgetType() || !static_cast<QWidget*>(watched)->isWindow())
            return false;
        auto* w = static_cast<QWidget*>(watched);
        toTop(w);
        // Sent before the window is mapped: it is mapped on top of the stack. raise() comes back
        // here as a ZOrderChange.
        if (type == QEvent::Show)
            w->raise();
        return false;
    }

private:
    void dropClosed()
    {
        order_.erase(std::remove_if(order_.begin(), order_.end(), [](const QPointer<QWidget>& w) { return w.isNull(); }),
                     order_.end());
    }
    void toTop(QWidget* w)
    {
        order_.erase(std::remove(order_.begin(), order_.end(), w), order_.end());
        order_.emplace_back(w);
    }
    std::vector<QPointer<QWidget>> order_; // bottom first
};

// From the application's start, before any window is shown (and before the filters main installs
// later, which therefore see every event first).
void installRaiseOnShow()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(&RaiseOnShow::instance());
}

}

Q_COREAPP_STARTUP_FUNCTION(installRaiseOnShow)

namespace TopWindow {

QWidget* top()
{
    return RaiseOnShow::instance().top();
}

std::vector<QWidget*> bottomToTop()
{
    return RaiseOnShow::instance().bottomToTop();
}

void raise(QWidget* window)
{
    if (!window)
        return;
    window->raise();
    window->activateWindow();
}

void activate(QWidget* fallback)
{
    QWidget* w = top();
    if (!w)
        w = fallback;
    if (w)
        w->activateWindow();
}

}
