// Paints the front panel's pictures into a folder and writes the resource list for them.
// Runs at build time; the same sources and fonts give the same files.
//   paint_pictures <output folder>
#include "ui/picture_sizes.h"

#include "picture_output.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QStringList>
#include <QTextStream>
#include <QtMath>
#include <cstdio>
#include <functional>

namespace {

using namespace picture_output;

using Draw = std::function<void(QPainter&, const QRectF&)>;

QFont captionFont(int language, int pixelSize, bool bold = true)
{
    QFont font(language == 0 || language == 4 ? QStringLiteral("WenQuanYi Micro Hei") : QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// The largest caption font from kCaptionPixels down to kMinCaptionPixels (as shown), bold before
// regular, whose text fits the width; a caption that fits none fails the build rather than
// showing unreadable text.
QFont fittingCaption(const QString& name, const QString& text, int language, qreal width)
{
    for (bool bold : {true, false})
        for (int shown = kCaptionPixels; shown >= kMinCaptionPixels; --shown) {
            const QFont font = captionFont(language, shown * kScale, bold);
            if (QFontMetrics(font).horizontalAdvance(text) <= width)
                return font;
        }
    fprintf(stderr, "paint_pictures: caption \"%s\" of %s does not fit at %d px\n", qPrintable(text), qPrintable(name),
            kMinCaptionPixels);
    exit(1);
}

QPen pen(const QColor& c, qreal w)
{
    QPen p(c, w);
    p.setCapStyle(Qt::RoundCap);
    p.setJoinStyle(Qt::RoundJoin);
    return p;
}

// ---- icons, each drawn into the square r ----

void monitor(QPainter& p, const QRectF& r, const QColor& face)
{
    const qreal u = r.width() / 10;
    p.setPen(pen(kWhite, u * 0.6));
    p.setBrush(face);
    p.drawRoundedRect(QRectF(r.left() + u, r.top() + u, 8 * u, 5.5 * u), u * 0.6, u * 0.6);
    p.drawLine(QPointF(r.center().x(), r.top() + 6.5 * u), QPointF(r.center().x(), r.top() + 8 * u));
    p.drawLine(QPointF(r.left() + 3 * u, r.top() + 8.3 * u), QPointF(r.left() + 7 * u, r.top() + 8.3 * u));
}

void iconDevice(QPainter& p, const QRectF& r)
{
    monitor(p, r, QColor(33, 36, 53));
    const qreal u = r.width() / 10;
    p.setPen(pen(kOrange, u * 0.8));
    p.drawPoint(QPointF(r.center().x(), r.top() + 2.4 * u));
    p.drawLine(QPointF(r.center().x(), r.top() + 3.5 * u), QPointF(r.center().x(), r.top() + 5.4 * u));
}

void iconInput(QPainter& p, const QRectF& r)
{
    const qreal u = r.width() / 10;
    p.setPen(pen(kWhite, u * 0.6));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(r.left() + 4 * u, r.top() + 1.5 * u, 5 * u, 7 * u), u * 0.5, u * 0.5);
    p.setPen(pen(kOrange, u * 0.8));
    const qreal y = r.center().y();
    p.drawLine(QPointF(r.left() + 0.8 * u, y), QPointF(r.left() + 6.5 * u, y));
    p.drawLine(QPointF(r.left() + 4.8 * u, y - 1.6 * u), QPointF(r.left() + 6.5 * u, y));
    p.drawLine(QPointF(r.left() + 4.8 * u, y + 1.6 * u), QPointF(r.left() + 6.5 * u, y));
}

void iconModes(QPainter& p, const QRectF& r)
{
    const qreal u = r.width() / 10;
    for (int i = 2; i >= 0; --i) {
        p.setPen(pen(kWhite, u * 0.5));
        p.setBrush(i == 0 ? kOrange : QColor(33, 36, 53));
        p.drawRoundedRect(QRectF(r.left() + (1 + i) * u, r.top() + (3.5 - i) * u, 6 * u, 5 * u), u * 0.5, u * 0.5);
    }
}

void iconGear(QPainter& p, const QRectF& r)
{
    const qreal u = r.width() / 10;
    const QPointF c = r.center();
    p.setPen(Qt::NoPen);
    p.setBrush(kWhite);
    for (int i = 0; i < 8; ++i) {
        p.save();
        p.translate(c);
        p.rotate(45.0 * i);
        p.drawRoundedRect(QRectF(-0.8 * u, -4.3 * u, 1.6 * u, 2.2 * u), 0.3 * u, 0.3 * u);
        p.restore();
    }
    p.drawEllipse(c, 3.1 * u, 3.1 * u);
    p.setBrush(kOrange);
    p.drawEllipse(c, 1.3 * u, 1.3 * u);
}

void iconScreen(QPainter& p, const QRectF& r, bool black)
{
    monitor(p, r, black ? QColor(0, 0, 0) : QColor(250, 230, 120));
    if (black) {
        const qreal u = r.width() / 10;
        p.setPen(pen(kOrange, u * 0.6));
        p.drawLine(QPointF(r.left() + 3.5 * u, r.top() + 2.4 * u), QPointF(r.left() + 6.5 * u, r.top() + 5.1 * u));
        p.drawLine(QPointF(r.left() + 6.5 * u, r.top() + 2.4 * u), QPointF(r.left() + 3.5 * u, r.top() + 5.1 * u));
    }
}

void iconSpeaker(QPainter& p, const QRectF& r, bool sound)
{
    const qreal u = r.width() / 10;
    QPainterPath body;
    body.moveTo(r.left() + 1 * u, r.top() + 3.8 * u);
    body.lineTo(r.left() + 3 * u, r.top() + 3.8 * u);
    body.lineTo(r.left() + 5.5 * u, r.top() + 1.5 * u);
    body.lineTo(r.left() + 5.5 * u, r.top() + 8.5 * u);
    body.lineTo(r.left() + 3 * u, r.top() + 6.2 * u);
    body.lineTo(r.left() + 1 * u, r.top() + 6.2 * u);
    body.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kWhite);
    p.drawPath(body);
    p.setBrush(Qt::NoBrush);
    if (sound) {
        p.setPen(pen(kOrange, u * 0.6));
        p.drawArc(QRectF(r.left() + 4.5 * u, r.top() + 3 * u, 3 * u, 4 * u), -60 * 16, 120 * 16);
        p.drawArc(QRectF(r.left() + 4.5 * u, r.top() + 1.5 * u, 4.5 * u, 7 * u), -60 * 16, 120 * 16);
    } else {
        p.setPen(pen(kOrange, u * 0.7));
        p.drawLine(QPointF(r.left() + 6.5 * u, r.top() + 3.5 * u), QPointF(r.left() + 9 * u, r.top() + 6.5 * u));
        p.drawLine(QPointF(r.left() + 9 * u, r.top() + 3.5 * u), QPointF(r.left() + 6.5 * u, r.top() + 6.5 * u));
    }
}

void iconRecall(QPainter& p, const QRectF& r, const QColor& accent)
{
    const qreal u = r.width() / 10;
    p.setPen(pen(kWhite, u * 0.6));
    p.setBrush(Qt::NoBrush);
    QPainterPath tray;
    tray.moveTo(r.left() + 1 * u, r.top() + 5.5 * u);
    tray.lineTo(r.left() + 1 * u, r.top() + 8.5 * u);
    tray.lineTo(r.left() + 9 * u, r.top() + 8.5 * u);
    tray.lineTo(r.left() + 9 * u, r.top() + 5.5 * u);
    p.drawPath(tray);
    p.setPen(pen(accent, u * 0.8));
    const qreal x = r.center().x();
    p.drawLine(QPointF(x, r.top() + 7 * u), QPointF(x, r.top() + 1.2 * u));
    p.drawLine(QPointF(x - 1.8 * u, r.top() + 3 * u), QPointF(x, r.top() + 1.2 * u));
    p.drawLine(QPointF(x + 1.8 * u, r.top() + 3 * u), QPointF(x, r.top() + 1.2 * u));
}

void iconFloppy(QPainter& p, const QRectF& r, const QColor& accent)
{
    const qreal u = r.width() / 10;
    QPainterPath disk;
    disk.moveTo(r.left() + 1.2 * u, r.top() + 1.2 * u);
    disk.lineTo(r.left() + 7.3 * u, r.top() + 1.2 * u);
    disk.lineTo(r.left() + 8.8 * u, r.top() + 2.7 * u);
    disk.lineTo(r.left() + 8.8 * u, r.top() + 8.8 * u);
    disk.lineTo(r.left() + 1.2 * u, r.top() + 8.8 * u);
    disk.closeSubpath();
    p.setPen(pen(kWhite, u * 0.5));
    p.setBrush(QColor(33, 36, 53));
    p.drawPath(disk);
    p.setBrush(accent);
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(r.left() + 2.8 * u, r.top() + 1.6 * u, 4 * u, 2.2 * u));
    p.setBrush(kWhite);
    p.drawRect(QRectF(r.left() + 2.5 * u, r.top() + 5.3 * u, 5 * u, 3 * u));
}

void iconGlobe(QPainter& p, const QRectF& r)
{
    const qreal u = r.width() / 10;
    const QPointF c = r.center();
    p.setPen(pen(kWhite, u * 0.7));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, 4 * u, 4 * u);
    p.drawEllipse(c, 1.8 * u, 4 * u);
    p.drawLine(QPointF(c.x() - 4 * u, c.y()), QPointF(c.x() + 4 * u, c.y()));
    p.drawLine(QPointF(c.x(), c.y() - 4 * u), QPointF(c.x(), c.y() + 4 * u));
}

void iconLock(QPainter& p, const QRectF& r, bool locked)
{
    const qreal u = r.width() / 10;
    p.setPen(pen(locked ? kOrange : kWhite, u * 0.9));
    p.setBrush(Qt::NoBrush);
    const QRectF shackle(r.left() + 2.8 * u, r.top() + 0.8 * u, 4.4 * u, 6 * u);
    if (locked)
        p.drawArc(shackle, 0, 180 * 16);
    else
        p.drawArc(shackle.translated(2.2 * u, -0.5 * u), 0, 180 * 16);
    p.drawLine(QPointF(shackle.left(), r.top() + 3.8 * u), QPointF(shackle.left(), r.top() + 4.8 * u));
    if (locked)
        p.drawLine(QPointF(shackle.right(), r.top() + 3.8 * u), QPointF(shackle.right(), r.top() + 4.8 * u));
    p.setPen(Qt::NoPen);
    p.setBrush(locked ? kOrange : kWhite);
    p.drawRoundedRect(QRectF(r.left() + 1.5 * u, r.top() + 4.5 * u, 7 * u, 5 * u), u, u);
}

void iconWrench(QPainter& p, const QRectF& r)
{
    const qreal u = r.width() / 10;
    p.save();
    p.translate(r.center());
    p.rotate(45);
    p.setPen(Qt::NoPen);
    p.setBrush(kWhite);
    p.drawRoundedRect(QRectF(-0.8 * u, -1 * u, 1.6 * u, 5.5 * u), 0.6 * u, 0.6 * u);
    QPainterPath head;
    head.addEllipse(QPointF(0, -2.6 * u), 2.2 * u, 2.2 * u);
    QPainterPath jaw;
    jaw.addRect(QRectF(-0.8 * u, -5 * u, 1.6 * u, 2.6 * u));
    p.drawPath(head.subtracted(jaw));
    p.restore();
}

void iconCheck(QPainter& p, const QRectF& r)
{
    const qreal u = r.width() / 10;
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    p.drawEllipse(r.center(), 4.6 * u, 4.6 * u);
    p.setPen(pen(kWhite, 1.1 * u));
    p.drawPolyline(QPolygonF({QPointF(r.left() + 2.7 * u, r.top() + 5.2 * u), QPointF(r.left() + 4.4 * u, r.top() + 6.9 * u),
                              QPointF(r.left() + 7.4 * u, r.top() + 3.4 * u)}));
}

void iconLed(QPainter& p, const QRectF& r)
{
    const qreal u = r.width() / 10;
    p.setPen(Qt::NoPen);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            p.setBrush((x + y) % 3 == 0 ? kOrange : kWhite);
            p.drawEllipse(QPointF(r.left() + (1.8 + 2.15 * x) * u, r.top() + (1.8 + 2.15 * y) * u), 0.8 * u, 0.8 * u);
        }
}

void iconMenu(QPainter& p, const QRectF& r)
{
    const qreal u = r.width() / 10;
    p.setPen(pen(kWhite, u));
    for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(r.left() + 1.5 * u, r.top() + (2.5 + 2.5 * i) * u), QPointF(r.left() + 8.5 * u, r.top() + (2.5 + 2.5 * i) * u));
}

// ---- picture kinds ----

void plain(const QString& name, int w, int h, const Draw& draw)
{
    QImage image = canvas(w, h);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p, QRectF(0, 0, w, h));
    p.end();
    save(image, name);
}

// An icon over its caption, once per language; size is the size shown on the panel.
void captioned(const QString& name, const char* const texts[5], QSize size, const Draw& draw, const QColor& color = kWhite)
{
    const int w = size.width() * kScale;
    const int h = size.height() * kScale;
    for (int language = 0; language < 5; ++language) {
        const QString text = QString::fromUtf8(texts[language]);
        const QFont font = fittingCaption(name, text, language, w - 4 * kScale); // 2 px clear each side
        const int captionHeight = QFontMetrics(font).height();
        QImage image = canvas(w, h);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        const qreal iconSide = qMin<qreal>(w, h - captionHeight);
        draw(p, QRectF((w - iconSide) / 2, 0, iconSide, iconSide));
        p.setFont(font);
        p.setPen(color);
        p.drawText(QRectF(0, h - captionHeight, w, captionHeight), Qt::AlignCenter, text);
        p.end();
        save(image, QLatin1String(kPrefix[language]) + name);
    }
}

// ---- pictures of the home screen, the input pages and the keypad ----

// A connector seen from the front: HDMI narrows at the bottom, DVI is a wide trapezoid.
void connector(QPainter& p, const QRectF& r, bool dvi, const QColor& line, const QColor& fill)
{
    const qreal m = r.height() * 0.12;
    const QRectF b = r.adjusted(m, m, -m, -m);
    const qreal cut = dvi ? b.width() * 0.08 : b.height() * 0.45;
    QPolygonF shape({b.topLeft(), b.topRight(), QPointF(b.right(), b.bottom() - cut), QPointF(b.right() - cut, b.bottom()),
                     QPointF(b.left() + cut, b.bottom()), QPointF(b.left(), b.bottom() - cut)});
    p.setPen(pen(line, qMax<qreal>(1.5, r.height() * 0.1)));
    p.setBrush(fill);
    p.drawPolygon(shape);
    p.setPen(pen(line, qMax<qreal>(1.0, r.height() * 0.08)));
    const qreal y = b.top() + b.height() * 0.4;
    p.drawLine(QPointF(b.left() + b.width() * 0.2, y), QPointF(b.right() - b.width() * 0.2, y));
}

void paintInputPictures()
{
    const QColor dark(33, 36, 53);
    const QColor signal(0, 150, 64);
    struct Plug {
        const char* name;
        bool dvi;
        QColor line;
        QColor fill;
    };
    const Plug plugs[] = {
        {"HDMI", false, kWhite, dark},       {"DVI", true, kWhite, dark},        {"HDMI13", false, kWhite, dark},
        {"HDMI13_1", false, kGrey, dark},    {"HDMI13_lv", false, kGreen, signal}, {"HDMI20", false, kBlue, dark},
        {"HDMI20_lv", false, kGreen, signal}, {"extlv", false, kGreen, signal},  {"dvilv", true, kGreen, signal},
    };
    for (const Plug& plug : plugs)
        plain(QLatin1String(plug.name), 80, 30, [plug](QPainter& p, const QRectF& r) { connector(p, r, plug.dvi, plug.line, plug.fill); });
    plain(QStringLiteral("bright"), 32, 32, [](QPainter& p, const QRectF& r) {
        const qreal u = r.width() / 10;
        p.setPen(pen(kWhite, u * 0.7));
        p.setBrush(kOrange);
        p.drawEllipse(r.center(), 2.2 * u, 2.2 * u);
        for (int i = 0; i < 8; ++i) {
            const qreal a = i * 3.14159265 / 4;
            p.drawLine(r.center() + QPointF(3.3 * u * std::cos(a), 3.3 * u * std::sin(a)),
                       r.center() + QPointF(4.4 * u * std::cos(a), 4.4 * u * std::sin(a)));
        }
    });
    plain(QStringLiteral("contrast"), 32, 32, [](QPainter& p, const QRectF& r) {
        const qreal u = r.width() / 10;
        const QRectF disc = r.adjusted(u, u, -u, -u);
        p.setPen(pen(kWhite, u * 0.7));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(disc);
        p.setBrush(kWhite);
        p.drawPie(disc, 90 * 16, 180 * 16);
    });
    plain(QStringLiteral("volume_open"), 32, 32, [](QPainter& p, const QRectF& r) { iconSpeaker(p, r, true); });
    plain(QStringLiteral("volume_close"), 32, 32, [](QPainter& p, const QRectF& r) { iconSpeaker(p, r, false); });
    plain(QStringLiteral("freeze"), 32, 32, [](QPainter& p, const QRectF& r) {
        const qreal u = r.width() / 10;
        p.setPen(pen(QColor(150, 210, 255), u * 0.8));
        for (int i = 0; i < 3; ++i) {
            const qreal a = i * 3.14159265 / 3;
            const QPointF d(4 * u * std::cos(a), 4 * u * std::sin(a));
            p.drawLine(r.center() - d, r.center() + d);
        }
    });
    plain(QStringLiteral("state_on"), 14, 14, [](QPainter& p, const QRectF& r) {
        p.setPen(Qt::NoPen);
        p.setBrush(kGreen);
        p.drawEllipse(r.adjusted(1, 1, -1, -1));
    });
    plain(QStringLiteral("state_off"), 14, 14, [](QPainter& p, const QRectF& r) {
        p.setPen(Qt::NoPen);
        p.setBrush(kGrey);
        p.drawEllipse(r.adjusted(1, 1, -1, -1));
    });
    plain(QStringLiteral("delete"), 40, 40, [](QPainter& p, const QRectF& r) {
        const qreal u = r.width() / 10;
        p.setPen(pen(QColor(40, 40, 50), u * 0.8));
        p.setBrush(Qt::NoBrush);
        p.drawPolygon(QPolygonF({QPointF(1 * u, 5 * u), QPointF(3.5 * u, 2 * u), QPointF(9 * u, 2 * u), QPointF(9 * u, 8 * u), QPointF(3.5 * u, 8 * u)}));
        p.drawLine(QPointF(5 * u, 3.8 * u), QPointF(7.4 * u, 6.2 * u));
        p.drawLine(QPointF(7.4 * u, 3.8 * u), QPointF(5 * u, 6.2 * u));
    });
}

void paintAll()
{
    static const char* const device[5] = {"设备信息", "Device", "Устройство", "Thiết bị", "設備信息"};
    static const char* const modes[5] = {"用户模式", "User mode", "Режимы", "Chế độ", "用戶模式"};
    static const char* const setting[5] = {"设置", "Setting", "Настройки", "Cài đặt", "設置"};
    static const char* const input[5] = {"信号源", "Input source", "Источник", "Nguồn vào", "信號源"};
    const QSize menu(PictureSize::kMenuWidth, PictureSize::kMenuHeight);
    captioned(QStringLiteral("machinestate"), device, menu, iconDevice);
    captioned(QStringLiteral("inputchoose"), input, menu, iconInput);
    captioned(QStringLiteral("custommode"), modes, menu, iconModes);
    captioned(QStringLiteral("option"), setting, menu, iconGear);

    static const char* const black[5] = {"黑屏", "Black", "Чёрн.", "Tắt", "黑屏"};
    static const char* const show[5] = {"亮屏", "Show", "Вкл.", "Bật", "亮屏"};
    static const char* const mute[5] = {"静音", "Mute", "Тихо", "Tắt âm", "靜音"};
    static const char* const sound[5] = {"声音", "Sound", "Звук", "Âm", "聲音"};
    static const char* const recall[5] = {"调用", "Recall", "Вызов", "Gọi", "調用"};
    static const char* const store[5] = {"保存", "Save", "Сохр.", "Lưu", "保存"};
    const QSize tool(PictureSize::kToolWidth, PictureSize::kToolHeight);
    captioned(QStringLiteral("closeled"), black, tool, [](QPainter& p, const QRectF& r) { iconScreen(p, r, true); }, kOrange);
    captioned(QStringLiteral("uncloseled"), show, tool, [](QPainter& p, const QRectF& r) { iconScreen(p, r, false); });
    captioned(QStringLiteral("slience"), mute, tool, [](QPainter& p, const QRectF& r) { iconSpeaker(p, r, false); }, kOrange);
    captioned(QStringLiteral("unslience"), sound, tool, [](QPainter& p, const QRectF& r) { iconSpeaker(p, r, true); });
    captioned(QStringLiteral("call"), recall, tool, [](QPainter& p, const QRectF& r) { iconRecall(p, r, kOrange); }, kOrange);
    captioned(QStringLiteral("uncall"), recall, tool, [](QPainter& p, const QRectF& r) { iconRecall(p, r, kGrey); });
    captioned(QStringLiteral("save"), store, tool, [](QPainter& p, const QRectF& r) { iconFloppy(p, r, kOrange); }, kOrange);
    captioned(QStringLiteral("unsave"), store, tool, [](QPainter& p, const QRectF& r) { iconFloppy(p, r, kGrey); });

    plain(QStringLiteral("ip"), 32, 32, iconGlobe);
    plain(QStringLiteral("lock"), 32, 32, [](QPainter& p, const QRectF& r) { iconLock(p, r, true); });
    plain(QStringLiteral("unlock"), 32, 32, [](QPainter& p, const QRectF& r) { iconLock(p, r, false); });
    plain(QStringLiteral("tools"), 32, 32, iconWrench);
    plain(QStringLiteral("pointer"), 18, 24, [](QPainter& p, const QRectF& r) {
        p.setPen(Qt::NoPen);
        p.setBrush(kOrange);
        p.drawPolygon(QPolygonF({QPointF(r.right(), r.top()), QPointF(r.left(), r.center().y()), QPointF(r.right(), r.bottom())}));
    });
    plain(QStringLiteral("mode_exist"), 32, 32, [](QPainter& p, const QRectF& r) {
        const qreal u = r.width() / 10;
        p.setPen(pen(kWhite, u * 0.6));
        p.setBrush(kBlue);
        p.drawRoundedRect(QRectF(2 * u, 1 * u, 6 * u, 8 * u), u, u);
        for (int i = 0; i < 3; ++i)
            p.drawLine(QPointF(3.5 * u, (3.3 + 1.8 * i) * u), QPointF(6.5 * u, (3.3 + 1.8 * i) * u));
    });
    plain(QStringLiteral("mode_blank"), 32, 32, [](QPainter& p, const QRectF& r) {
        const qreal u = r.width() / 10;
        QPen dashed = pen(QColor(90, 90, 100), u * 0.6);
        dashed.setStyle(Qt::DashLine);
        p.setPen(dashed);
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(2 * u, 1 * u, 6 * u, 8 * u), u, u);
    });
    plain(QStringLiteral("check_180"), 180, 180, iconCheck);
    plain(QStringLiteral("LED"), 32, 32, iconLed);
    plain(QStringLiteral("menu_status"), 40, 40, iconMenu);
    paintInputPictures();
}

}

int main(int argc, char** argv)
{
    return picture_output::run(argc, argv, "paint_pictures", QStringLiteral("pictures.qrc"), [] {
        paintAll();
    });
}
