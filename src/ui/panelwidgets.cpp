#include "ui/panelwidgets.h"

#include <QLabel>
#include <QPixmap>
#include <cmath>

namespace {

const QColor kWhite(255, 255, 255);
const QColor kPageBlack(16, 16, 28); // the pages' background

// Relative luminance of an sRGB colour (WCAG 2).
double luminance(const QColor& c)
{
    auto linear = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.red()) + 0.7152 * linear(c.green()) + 0.0722 * linear(c.blue());
}

}

namespace PanelWidgets {

double contrast(const QColor& a, const QColor& b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QFont pixels(const QFont& base, int px)
{
    QFont f = base;
    f.setPixelSize(px);
    return f;
}

QFont pixels(QWidget* widget, int px) { return pixels(widget->font(), px); }

QLabel* label(QWidget* parent, const QString& name, const QRect& r, int px, const QString& style)
{
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setGeometry(r);
    l->setFont(pixels(l, px));
    l->setStyleSheet(QStringLiteral("color:rgb(255,255,255);") + style);
    return l;
}

QColor textColourOn(const QColor& box)
{
    return contrast(kWhite, box) >= contrast(kPageBlack, box) ? kWhite : kPageBlack;
}

QString boxStyle(const QColor& box)
{
    return QStringLiteral("background-color:%1;color:%2;").arg(box.name(), textColourOn(box).name());
}

void showPicture(QLabel* label, const QString& path)
{
    label->setAlignment(Qt::AlignCenter);
    label->setPixmap(QPixmap(path).scaled(label->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

}
