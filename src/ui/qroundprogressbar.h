#pragma once
#include <QPointer>
#include <QString>
#include <QWidget>

class QDialog;

// The ring that fills clockwise from the top with the percentage inside, shown in the middle of a
// tool page while a receiving-card job runs. At most one exists, in g_qround_bar; a value above 99
// closes it.
class QRoundProgressBar : public QWidget {
    Q_OBJECT
public:
    enum BarStyle { StyleDonut = 0, StylePie = 1, StyleLine = 2 };

    QRoundProgressBar(QWidget* parent, BarStyle style);
    void setStartAngle(double angle);
    void setOutlinePenWidth(double width);
    void setDataPenWidth(double width);
    void setDecimals(int count);
    void setBarStyle(BarStyle style);
    void setRange(double min, double max);
    void setMinimum(double min);
    void setMaximum(double max);
    void setValue(double value);
    void setValue(int value);

    double minimum() const { return min_; }
    double maximum() const { return max_; }
    double value() const { return value_; }
    // The text drawn inside the ring, e.g. "42%".
    QString valueText() const;
    // The arc's span in degrees, clockwise (0 when nothing is drawn).
    double arcDegrees() const;

    static void create_qround_bar(QDialog* page);
    static void del_qround_bar();

public Q_SLOTS:
    void para_sync(int percent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double min_ = 0.0;
    double max_ = 100.0;
    double value_ = 0.0;
    BarStyle style_;
    int decimals_ = 0;
    double start_angle_ = 90.0;
    double outline_pen_width_ = 0.0;
    double data_pen_width_ = 0.0;
};

// The bar on screen; null when there is none or when its page has gone with it.
extern QPointer<QRoundProgressBar> g_qround_bar;
