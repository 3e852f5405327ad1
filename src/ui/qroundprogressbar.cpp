#include "ui/qroundprogressbar.h"

#include "base/global.h"

#include <QDialog>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

QPointer<QRoundProgressBar> g_qround_bar;

QRoundProgressBar::QRoundProgressBar(QWidget* parent, BarStyle style)
    : QWidget(parent)
    , style_(style)
{
    setObjectName(QStringLiteral("QRoundProgressBar"));
}

void QRoundProgressBar::setStartAngle(double angle)
{
    if (angle != start_angle_) {
        start_angle_ = angle;
        update();
    }
}

void QRoundProgressBar::setOutlinePenWidth(double width)
{
    if (width != outline_pen_width_) {
        outline_pen_width_ = width;
        update();
    }
}

void QRoundProgressBar::setDataPenWidth(double width)
{
    if (width != data_pen_width_) {
        data_pen_width_ = width;
        update();
    }
}

void QRoundProgressBar::setDecimals(int count)
{
    if (count >= 0 && count != decimals_) {
        decimals_ = count;
        update();
    }
}

void QRoundProgressBar::setBarStyle(BarStyle style)
{
    if (style != style_) {
        style_ = style;
        update();
    }
}

void QRoundProgressBar::setRange(double min, double max)
{
    min_ = qMin(min, max);
    max_ = qMax(min, max);
    value_ = qBound(min_, value_, max_);
    update();
}

void QRoundProgressBar::setMinimum(double min)
{
    setRange(min, max_);
}

void QRoundProgressBar::setMaximum(double max)
{
    setRange(min_, max);
}

void QRoundProgressBar::setValue(double value)
{
    if (value != value_) {
        value_ = qBound(min_, value, max_);
        update();
    }
}

void QRoundProgressBar::setValue(int value)
{
    setValue(double(value));
}

QString QRoundProgressBar::valueText() const
{
    // Equal bounds leave nothing to divide by: the ring is empty and says 0 %.
    const double span = max_ - min_;
    const double percent = span > 0 ? (value_ - min_) / span * 100.0 : 0.0;
    return QString::number(percent, 'f', decimals_) + QLatin1Char('%');
}

double QRoundProgressBar::arcDegrees() const
{
    const double span = max_ - min_;
    if (value_ == min_ || span <= 0)
        return 0.0;
    return 360.0 / span * (value_ - min_);
}

void QRoundProgressBar::paintEvent(QPaintEvent*)
{
    const double d = width();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.fillRect(QRectF(0, 0, d, d), QColor(255, 255, 255, 0));
    const double inner = style_ == StyleLine ? d - outline_pen_width_ : (style_ == StyleDonut ? 0.9 * d : d);
    const QRectF innerRect((d - inner) / 2, (d - inner) / 2, inner, inner);
    const QRectF outer(0, 0, d, d);
    const double span = arcDegrees();
    if (style_ == StyleDonut) {
        QPainterPath path;
        path.setFillRule(Qt::OddEvenFill);
        path.addEllipse(innerRect);
        p.setPen(QPen(QColor(QStringLiteral("#DEE3E7")), 10));
        p.setBrush(Qt::white);
        p.drawPath(path);
        if (span > 0) {
            QPen arc(QColor(QStringLiteral("#2F8DED")), 10);
            arc.setCapStyle(Qt::RoundCap);
            p.setPen(arc);
            p.setBrush(Qt::NoBrush);
            p.drawArc(innerRect, int(start_angle_ * 16), -int(span * 16));
        }
    } else if (style_ == StylePie) {
        p.setPen(QPen(Qt::white, outline_pen_width_));
        p.setBrush(QColor(QStringLiteral("#DEE3E7")));
        p.drawEllipse(outer);
        if (span > 0) {
            p.setPen(QPen(QColor(QStringLiteral("#2F8DED")), data_pen_width_));
            p.setBrush(QColor(QStringLiteral("#2F8DED")));
            p.drawPie(outer, int(start_angle_ * 16), -int(span * 16));
        }
    } else {
        p.setPen(QPen(Qt::white, outline_pen_width_));
        p.setBrush(Qt::NoBrush);
        const double half = outline_pen_width_ / 2;
        p.drawEllipse(outer.adjusted(half, half, -half, -half));
        if (span > 0) {
            p.setPen(QPen(QColor(QStringLiteral("#2F8DED")), data_pen_width_));
            p.drawArc(outer, int(start_angle_ * 16), -int(span * 16));
        }
    }
    QFont font(QStringLiteral("微软雅黑"));
    font.setPixelSize(36);
    p.setFont(font);
    p.setPen(QColor(QStringLiteral("#606266")));
    p.drawText(innerRect, Qt::AlignCenter, valueText());
}

void QRoundProgressBar::create_qround_bar(QDialog* page)
{
    if (g_qround_bar || !page)
        return;
    auto* bar = new QRoundProgressBar(page, StyleDonut);
    g_qround_bar = bar;
    bar->setGeometry(120, 70, 100, 100);
    bar->setValue(0);
    bar->show();
    if (traceOn())
        printf("\n create_qround_bar");
}

void QRoundProgressBar::del_qround_bar()
{
    g_qround_bar = nullptr;
}

void QRoundProgressBar::para_sync(int percent)
{
    if (g_qround_bar != this)
        return; // a bar already closed or let go takes no more progress
    if (percent > 99) {
        close();
        g_qround_bar = nullptr;
        return;
    }
    setValue(percent);
    update();
}
