#include "panel_checks.h"

#include "base/global.h"
#include "ui/numberkeyboard.h"
#include "ui/pagenav.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QTest>

namespace Panel {

bool onTop(int code)
{
    return g_page_focus.load() == code && PageNav::page(code) && QApplication::activeWindow() == PageNav::page(code);
}

bool focusIs(int code) { return g_page_focus.load() == code; }

bool keypadUp()
{
    return g_numberkeyboard && g_numberkeyboard->isVisible() && QApplication::activeWindow() == g_numberkeyboard.data();
}

QString title(QWidget* page)
{
    return page ? page->findChild<QLabel*>(QStringLiteral("label_title"))->text() : QString();
}

QString labelText(QWidget* parent, const char* name)
{
    auto* l = parent->findChild<QLabel*>(QLatin1String(name));
    return l ? l->text() : QStringLiteral("<none>");
}

bool styled(QWidget* w, const char* style) { return w->styleSheet() == QString::fromLatin1(style); }

bool showsScaled(QLabel* label, const char* path, Qt::AspectRatioMode mode)
{
    if (!label)
        return false;
    const QImage expected = QPixmap(QLatin1String(path)).scaled(label->size(), mode, Qt::SmoothTransformation).toImage();
    const QImage shown = label->pixmap(Qt::ReturnByValue).toImage();
    return !expected.isNull() && shown.convertToFormat(QImage::Format_ARGB32) == expected.convertToFormat(QImage::Format_ARGB32);
}

void sendKey(QWidget* to, int code)
{
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier);
    QCoreApplication::sendEvent(to, &press);
    QCoreApplication::sendEvent(to, &release);
}

void release(QWidget* to, int code) { QTest::keyRelease(to, Qt::Key(code)); }

}
