#include "panel_fixture.h"

#include "scaler/c331_manage.h"
#include "base/global.h"
#include "ui/lockwindow.h"
#include "ui/mainwindow.h"
#include "ui/panelkeys.h"
#include "ui/pagenav.h"
#include "ui/syncupdate.h"
#include "ui/tip.h"
#include "ui/panelwidgets.h"
#include "ui/vyrpage.h"
#include "params/vyrrampara.h"
#include "time_limit.h"

#include <QApplication>
#include <QDir>
#include "ui/panelstart.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <algorithm>
#include <map>

void PanelTest::SetUp()
{
    c331_manage::instanceWithoutWorker();
    store = VyrRamPara::pInstance();
    showPanel();
    ASSERT_TRUE(Panel::waitFor([] { return QApplication::activeWindow() == g_lockwindow.data(); }));
}

void PanelTest::TearDown()
{
    Panel::closeModalPages();
    for (int code : {0, 4})
        PageNav::closePage(code);
    delete g_mainwindow.data();
    delete g_tip.data();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

namespace {

// Press and release, posted to the active window as the panel's keys are; false while a page that
// has just closed leaves no active window.
bool post(int code)
{
    QWidget* window = QApplication::activeWindow();
    if (!window)
        return false;
    QWidget* target = window->focusWidget() ? window->focusWidget() : window;
    QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, code, Qt::NoModifier));
    QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyRelease, code, Qt::NoModifier));
    return true;
}

// The entries left and right walk on the window on top, and the one with the focus (null for a
// window that is no menu).
QWidget* focusedEntry(std::vector<QWidget*>* entries)
{
    QWidget* window = QApplication::activeWindow();
    if (auto* page = qobject_cast<VyrPage*>(window)) {
        *entries = page->focusList();
        return page->ui_select < entries->size() ? (*entries)[page->ui_select] : nullptr;
    }
    if (auto* root = qobject_cast<MainWindow*>(window)) {
        entries->assign(std::begin(root->focus_list), std::end(root->focus_list));
        return root->focus_widget;
    }
    entries->clear();
    return nullptr;
}

}

Script& Script::key(int code)
{
    steps_.push_back({[code] { return post(code); }, "key " + std::to_string(code)});
    return *this;
}

Script& Script::choose(const char* entry)
{
    return focus(entry).key(PanelKey::OK);
}

Script& Script::focus(const char* entry)
{
    const QString name = QLatin1String(entry);
    QWidget* pressedOn = nullptr; // the focus when right was last pressed, until that key is served
    size_t presses = 0;
    steps_.push_back({[this, name, pressedOn, presses]() mutable {
                          std::vector<QWidget*> entries;
                          QWidget* focused = focusedEntry(&entries);
                          const bool listed = std::any_of(entries.begin(), entries.end(),
                                                          [&](QWidget* w) { return w->objectName() == name; });
                          if (!focused || !listed || focused == pressedOn)
                              return false; // no menu with that entry on top yet, or the key not served yet
                          if (focused->objectName() == name)
                              return true;
                          if (presses++ == entries.size()) {
                              broken_ = "a round of the menu never focused " + name.toStdString();
                              return false;
                          }
                          pressedOn = focused;
                          post(PanelKey::Right);
                          return false;
                      },
                      "menu entry " + name.toStdString()});
    return *this;
}

Script& Script::keys(std::initializer_list<int> codes)
{
    for (int code : codes)
        key(code);
    return *this;
}

Script& Script::until(std::function<bool()> condition, const std::string& what)
{
    steps_.push_back({std::move(condition), what});
    return *this;
}

Script& Script::act(std::function<void()> action)
{
    steps_.push_back({[action] {
                          action();
                          return true;
                      },
                      "action"});
    return *this;
}

bool Script::run(int timeoutMs)
{
    size_t next = 0;
    broken_.clear();
    bool ok = true;
    bool finished = false;
    QEventLoop loop;
    QTimer player;
    QElapsedTimer clock;
    clock.start();
    auto finish = [&](bool success) {
        if (finished)
            return;
        finished = true;
        ok = success;
        player.stop();
        Panel::closeModalPages();
        loop.quit();
    };
    QObject::connect(&player, &QTimer::timeout, [&] {
        // One key per turn of the event loop, so each is served before the next is sent.
        if (next < steps_.size() && steps_[next].run()) {
            ++next;
        } else if (!broken_.empty()) {
            ADD_FAILURE() << "step " << next << ": " << broken_;
            finish(false);
        } else if (next < steps_.size() && clock.elapsed() > TimeLimit::ms(timeoutMs)) {
            ADD_FAILURE() << "step " << next << " did not happen: " << steps_[next].what;
            finish(false);
        }
        if (next == steps_.size())
            finish(true);
    });
    player.start(2);
    loop.exec();
    // Let the pages closed at the end unwind their loops and go away.
    Panel::pump(20);
    return ok;
}

namespace Panel {

void pump(int ms)
{
    QElapsedTimer clock;
    clock.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    } while (clock.elapsed() < ms);
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    const int limit = TimeLimit::ms(timeoutMs);
    while (!condition()) {
        if (clock.elapsed() > limit)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void tick(int count)
{
    for (int i = 0; i < count; ++i)
        g_mainwindow->slot_update_timer_ticks();
}

void refresh(int code)
{
    if (c331_manage::p_c331_manage)
        c331_manage::p_c331_manage->change_flag = 0;
    VyrRamPara::p_vyrrampara_config->test_signal(code);
    QCoreApplication::sendPostedEvents();
}

void openLater(VyrPage* (*make)())
{
    QMetaObject::invokeMethod(
        qApp, [make] { PageNav::openModal(make()); }, Qt::QueuedConnection);
}

void closeModalPages()
{
    for (int code = PageNav::kPageCount - 1; code >= 2; --code)
        if (code != 4)
            PageNav::closePage(code);
}

void shot(QWidget* widget, const QString& name)
{
    const QString dir = QStringLiteral(VYR_BINARY_DIR "/screenshots");
    QDir().mkpath(dir);
    // Quality 80 is zlib's fastest level: the pictures are for people to look at, and hundreds are
    // saved in every run.
    EXPECT_TRUE(widget->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"), "PNG", 80));
}

}

namespace {
constexpr int kMinPixels = 10; // the least that reads at arm's length on the panel

// The room a widget gives its text, or an empty rectangle when it shows no text.
QRect textRoom(QWidget* w, QString* text, bool* wrap)
{
    if (auto* l = qobject_cast<QLabel*>(w)) {
        *text = l->text();
        // Rich text is measured as it is laid out, not as its markup.
        if (l->textFormat() == Qt::RichText || (l->textFormat() == Qt::AutoText && Qt::mightBeRichText(*text))) {
            QTextDocument doc;
            doc.setDocumentMargin(0);
            doc.setDefaultFont(l->font());
            doc.setHtml(*text);
            *text = doc.toPlainText();
        }
        *wrap = l->wordWrap();
        const int m = l->margin();
        return l->contentsRect().adjusted(m, m, -m, -m);
    }
    if (auto* b = qobject_cast<QPushButton*>(w)) {
        *text = b->text();
        *wrap = false;
        QStyleOptionButton option;
        option.initFrom(b);
        option.text = b->text();
        return b->style()->subElementRect(QStyle::SE_PushButtonContents, &option, b);
    }
    return QRect();
}

// Text needs a contrast ratio of 4.5:1 with what it stands on.
constexpr double kMinContrast = 4.5;
using PanelWidgets::contrast;

// The colours a widget's text is drawn in: each coloured run of rich text, else its foreground;
// with each, the box the run brings with it (invalid when it stands on the widget's ground).
QList<QPair<QColor, QColor>> textColours(QWidget* w, const QString& shown)
{
    const QColor plain = w->palette().color(w->foregroundRole());
    auto* l = qobject_cast<QLabel*>(w);
    if (!l || !(l->textFormat() == Qt::RichText || (l->textFormat() == Qt::AutoText && Qt::mightBeRichText(shown))))
        return {{plain, QColor()}};
    QTextDocument doc;
    doc.setHtml(shown);
    QList<QPair<QColor, QColor>> out;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        for (auto f = b.begin(); !f.atEnd(); ++f) {
            const QTextCharFormat format = f.fragment().charFormat();
            if (!f.fragment().text().trimmed().isEmpty())
                out << qMakePair(format.hasProperty(QTextFormat::ForegroundBrush) ? format.foreground().color() : plain,
                                 format.hasProperty(QTextFormat::BackgroundBrush) ? format.background().color() : QColor());
        }
    return out;
}

// What a widget's text stands on, as drawn: the commonest colour of its text room in a picture of
// the window taken with the text away. False when the text does not show (another widget covers it).
// Only the text room is drawn, twice for each text: the pages hold dozens of them.
bool backdrop(QWidget* window, QWidget* w, const QRect& room, QColor* colour)
{
    auto* l = qobject_cast<QLabel*>(w);
    auto* b = qobject_cast<QPushButton*>(w);
    const QString text = l ? l->text() : b->text();
    const QRect area = QRect(w->mapTo(window, room.topLeft()), room.size()) & window->rect();
    if (area.isEmpty())
        return false;
    const QImage shown = window->grab(area).toImage().convertToFormat(QImage::Format_RGB32);
    l ? l->setText(QString()) : b->setText(QString());
    const QImage picture = window->grab(area).toImage().convertToFormat(QImage::Format_RGB32);
    l ? l->setText(text) : b->setText(text);
    if (shown == picture)
        return false;
    *colour = QColor(Panel::commonestColour(picture, picture.rect()));
    return true;
}

}

namespace Panel {

QStringList misfits(QWidget* window, const QString& where)
{
    QStringList out;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window))
            continue;
        w->ensurePolished(); // style-sheet fonts take effect here
        QString text;
        bool wrap = false;
        const QRect room = textRoom(w, &text, &wrap);
        const QString name = where + QLatin1Char('/') + w->objectName() + QStringLiteral(" \"") + text + QLatin1Char('"');
        // A label or button reaching past its parent is cut there, with its text or picture.
        const QWidget* parent = w->parentWidget();
        if ((qobject_cast<QLabel*>(w) || qobject_cast<QPushButton*>(w)) && parent && !parent->rect().contains(w->geometry()))
            out << name + QStringLiteral(": at %1,%2 %3x%4 reaches outside its parent %5 of %6x%7")
                              .arg(w->x()).arg(w->y()).arg(w->width()).arg(w->height())
                              .arg(parent->objectName()).arg(parent->width()).arg(parent->height());
        if (text.isEmpty())
            continue;
        const int pixels = QFontInfo(w->font()).pixelSize();
        if (pixels < kMinPixels)
            out << name + QStringLiteral(": font of %1 px").arg(pixels);
        const QFontMetrics fm(w->font());
        const QRect need = wrap ? fm.boundingRect(room, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, text)
                                : fm.boundingRect(QRect(0, 0, 4000, 4000), Qt::AlignLeft | Qt::AlignTop, text);
        if (need.width() > room.width() || need.height() > room.height())
            out << name + QStringLiteral(": needs %1x%2, has %3x%4")
                              .arg(need.width()).arg(need.height()).arg(room.width()).arg(room.height());
    }
    return out;
}

QRgb commonestColour(const QImage& image, const QRect& area)
{
    // Runs of one colour are counted at once: the pages are mostly flat fills.
    std::map<QRgb, int> count;
    const QRect r = area & image.rect();
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = r.left(); x <= r.right();) {
            int end = x + 1;
            while (end <= r.right() && line[end] == line[x])
                ++end;
            count[line[x]] += end - x;
            x = end;
        }
    }
    return commonestOf(count);
}

QRgb commonestOf(const std::map<QRgb, int>& count)
{
    QRgb commonest = 0;
    int most = 0;
    for (const auto& c : count)
        if (c.second > most) {
            most = c.second;
            commonest = c.first;
        }
    return commonest;
}

QStringList lowContrast(QWidget* window, const QString& where)
{
    QStringList out;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window))
            continue;
        w->ensurePolished();
        QString text;
        bool wrap = false;
        const QRect room = textRoom(w, &text, &wrap);
        if (text.trimmed().isEmpty())
            continue;
        QColor ground;
        if (!backdrop(window, w, room, &ground))
            continue;
        for (const auto& run : textColours(w, w->property("text").toString())) {
            const QColor& ink = run.first;
            const QColor on = run.second.isValid() ? run.second : ground;
            if (contrast(ink, on) < kMinContrast)
                out << where + QLatin1Char('/') + w->objectName() + QStringLiteral(" \"%1\": %2 on %3, contrast %4:1")
                                                                   .arg(text, ink.name(), on.name())
                                                                   .arg(contrast(ink, on), 0, 'f', 1);
        }
    }
    return out;
}

}
