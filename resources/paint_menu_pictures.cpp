// Paints the pictures of the settings menu and of the menus below it (entries in five languages,
// the key notes at the foot of the pages) and writes their resource list. Runs at build time.
//   paint_menu_pictures <output folder>
#include "picture_output.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <QTextStream>
#include <cstdio>
#include <functional>

namespace {

using namespace picture_output;

using Draw = std::function<void(QPainter&, const QRectF&)>;

QPen pen(const QColor& c, qreal w)
{
    QPen p(c, w);
    p.setCapStyle(Qt::RoundCap);
    p.setJoinStyle(Qt::RoundJoin);
    return p;
}

// The largest caption font that fits the width, bold before regular; none fits: the build fails.
QFont fittingCaption(const QString& name, const QString& text, int language, qreal width)
{
    for (bool bold : {true, false})
        for (int shown = kCaptionPixels; shown >= kMinCaptionPixels; --shown) {
            QFont font(language == 0 || language == 4 ? QStringLiteral("WenQuanYi Micro Hei") : QStringLiteral("DejaVu Sans"));
            font.setPixelSize(shown * kScale);
            font.setBold(bold);
            font.setHintingPreference(QFont::PreferNoHinting);
            if (QFontMetrics(font).horizontalAdvance(text) <= width)
                return font;
        }
    fprintf(stderr, "paint_menu_pictures: caption \"%s\" of %s does not fit\n", qPrintable(text), qPrintable(name));
    exit(1);
}

void plain(const QString& name, int w, int h, const Draw& draw)
{
    QImage image = canvas(w, h);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p, QRectF(0, 0, w, h));
    p.end();
    save(image, name);
}

// A coloured bar 15 px wide naming a panel beside it, once per language: Chinese characters
// stacked, other scripts turned to read upwards, dark on the bar's light colour.
void captionBar(const QString& name, const char* const texts[5], int shownHeight, const QColor& colour)
{
    const int w = 15 * kScale;
    const int h = shownHeight * kScale;
    for (int language = 0; language < 5; ++language) {
        const QString text = QString::fromUtf8(texts[language]);
        const bool stacked = language == 0 || language == 4;
        const qreal room = h - 4 * kScale;
        const QFont font = stacked ? fittingCaption(name, text.left(1), language, w - 2 * kScale)
                                   : fittingCaption(name, text, language, room);
        const QFontMetrics fm(font);
        if ((stacked && fm.height() * text.size() > room) || fm.height() > w) {
            fprintf(stderr, "paint_menu_pictures: caption \"%s\" of %s does not fit\n", qPrintable(text), qPrintable(name));
            exit(1);
        }
        QImage image = canvas(w, h);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawRoundedRect(QRectF(0, 0, w, h).adjusted(kScale, kScale, -kScale, -kScale), 3 * kScale, 3 * kScale);
        p.setFont(font);
        p.setPen(QColor(16, 16, 28));
        if (stacked) {
            const qreal top = (h - fm.height() * text.size()) / 2.0;
            for (int i = 0; i < text.size(); ++i)
                p.drawText(QRectF(0, top + i * fm.height(), w, fm.height()), Qt::AlignCenter, text.mid(i, 1));
        } else {
            p.translate(0, h);
            p.rotate(-90);
            p.drawText(QRectF(0, 0, h, w), Qt::AlignCenter, text);
        }
        p.end();
        save(image, QLatin1String(kPrefix[language]) + name);
    }
}

// ---- settings menu entries and the key notes at the foot of the menu pages ----

void iconOutput(QPainter& p, const QRectF& r)
{
    const qreal u = r.width() / 10;
    p.setPen(pen(kWhite, u * 0.5));
    p.setBrush(Qt::NoBrush);
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            p.drawRect(QRectF(r.left() + (1.5 + 2.4 * col) * u, r.top() + (1.5 + 2.4 * row) * u, 2 * u, 2 * u));
    p.setPen(pen(kOrange, u * 0.7));
    p.drawLine(QPointF(r.left() + 0.5 * u, r.bottom() - 0.6 * u), QPointF(r.right() - 0.5 * u, r.bottom() - 0.6 * u));
}

void iconCrop(QPainter& p, const QRectF& r)
{
    const qreal u = r.width() / 10;
    p.setPen(pen(kWhite, u * 0.7));
    p.drawLine(QPointF(r.left() + 3 * u, r.top() + u), QPointF(r.left() + 3 * u, r.top() + 7 * u));
    p.drawLine(QPointF(r.left() + 3 * u, r.top() + 7 * u), QPointF(r.left() + 9 * u, r.top() + 7 * u));
    p.drawLine(QPointF(r.left() + u, r.top() + 3 * u), QPointF(r.left() + 7 * u, r.top() + 3 * u));
    p.drawLine(QPointF(r.left() + 7 * u, r.top() + 3 * u), QPointF(r.left() + 7 * u, r.top() + 9 * u));
    p.setPen(Qt::NoPen);
    p.setBrush(kOrange);
    p.drawRect(QRectF(r.left() + 3.6 * u, r.top() + 3.6 * u, 2.8 * u, 2.8 * u));
}

void iconLayout(QPainter& p, const QRectF& r)
{
    const qreal u = r.width() / 10;
    p.setPen(pen(kWhite, u * 0.5));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(r.left() + u, r.top() + 1.5 * u, 8 * u, 7 * u), u * 0.5, u * 0.5);
    p.setBrush(kOrange);
    p.drawRect(QRectF(r.left() + 2 * u, r.top() + 2.5 * u, 3.5 * u, 2.5 * u));
    p.setBrush(kBlue);
    p.drawRect(QRectF(r.left() + 4.5 * u, r.top() + 4.5 * u, 3.5 * u, 3 * u));
}

void iconLink(QPainter& p, const QRectF& r)
{
    const qreal u = r.width() / 10;
    p.setPen(pen(kWhite, u * 0.6));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(r.left() + 1 * u, r.top() + 3.5 * u, 4.5 * u, 3 * u), 1.5 * u, 1.5 * u);
    p.setPen(pen(kOrange, u * 0.6));
    p.drawRoundedRect(QRectF(r.left() + 4.5 * u, r.top() + 3.5 * u, 4.5 * u, 3 * u), 1.5 * u, 1.5 * u);
}

void iconPicture(QPainter& p, const QRectF& r)
{
    const qreal u = r.width() / 10;
    p.setPen(pen(kWhite, u * 0.5));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(r.left() + u, r.top() + 1.5 * u, 8 * u, 7 * u), u * 0.5, u * 0.5);
    p.setPen(Qt::NoPen);
    p.setBrush(kOrange);
    p.drawEllipse(QPointF(r.left() + 3.3 * u, r.top() + 3.8 * u), u, u);
    p.setBrush(kGreen);
    p.drawPolygon(QPolygonF({QPointF(r.left() + 1.8 * u, r.top() + 7.8 * u), QPointF(r.left() + 5 * u, r.top() + 4.5 * u),
                             QPointF(r.left() + 8.2 * u, r.top() + 7.8 * u)}));
}

void iconChart(QPainter& p, const QRectF& r)
{
    const qreal u = r.width() / 10;
    const QColor bars[4] = {kWhite, kOrange, kGreen, kBlue};
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 4; ++i) {
        p.setBrush(bars[i]);
        p.drawRect(QRectF(r.left() + (1 + 2 * i) * u, r.top() + 2 * u, 2 * u, 6 * u));
    }
}

void iconMapping(QPainter& p, const QRectF& r)
{
    const qreal u = r.width() / 10;
    p.setPen(pen(kGrey, u * 0.5));
    p.setBrush(Qt::NoBrush);
    const QPointF pts[4] = {{2, 2}, {8, 2}, {2, 8}, {8, 8}};
    for (int i = 0; i < 3; ++i)
        p.drawLine(r.topLeft() + pts[i] * u, r.topLeft() + pts[i + 1] * u);
    p.setBrush(kGrey);
    for (const QPointF& pt : pts)
        p.drawEllipse(r.topLeft() + pt * u, 0.9 * u, 0.9 * u);
}

void iconAdvanced(QPainter& p, const QRectF& r)
{
    const qreal u = r.width() / 10;
    p.setPen(pen(kWhite, u * 0.6));
    for (int i = 0; i < 3; ++i) {
        const qreal y = r.top() + (2.5 + 2.5 * i) * u;
        p.drawLine(QPointF(r.left() + 1.5 * u, y), QPointF(r.left() + 8.5 * u, y));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(kOrange);
    const qreal xs[3] = {3, 6.5, 4.5};
    for (int i = 0; i < 3; ++i)
        p.drawEllipse(QPointF(r.left() + xs[i] * u, r.top() + (2.5 + 2.5 * i) * u), u, u);
}

// A key cap with its name, the same in every language.
void keyNote(const QString& name, int w, int h, const QString& text)
{
    plain(name, w * kScale, h * kScale, [text](QPainter& p, const QRectF& r) {
        p.setPen(pen(kGrey, kScale));
        p.setBrush(QColor(33, 36, 53));
        p.drawRoundedRect(r.adjusted(kScale, kScale, -kScale, -kScale), 3 * kScale, 3 * kScale);
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setPixelSize(int(r.height() * 0.6));
        f.setBold(true);
        p.setFont(f);
        p.setPen(kWhite);
        p.drawText(r, Qt::AlignCenter, text);
    });
}

void paintSettingsMenu()
{
    struct Entry {
        const char* name;
        const char* texts[5];
        int width[5];
        Draw draw;
    };
    const Entry entries[] = {
        {"output_set", {"输出", "Output", "Выход", "Đầu ra", "輸出"}, {55, 75, 55, 55, 55}, iconOutput},
        {"input_cut", {"截取", "Crop", "Обрезка", "Cắt ảnh", "截取"}, {55, 70, 70, 70, 55}, iconCrop},
        {"image_layout", {"布局", "Layout", "Окна", "Bố cục", "佈局"}, {55, 70, 55, 55, 55}, iconLayout},
        {"link_set", {"通讯", "Link", "Связь", "Kết nối", "通訊"}, {55, 70, 70, 70, 55}, iconLink},
        {"image_quality", {"画质", "Picture", "Цвет", "Ảnh", "畫質"}, {55, 75, 55, 55, 55}, iconPicture},
        {"test_chart", {"测试", "Test", "Тест", "Thử", "測試"}, {55, 55, 55, 55, 55}, iconChart},
        {"smart_mapping", {"连线", "Map", "Схема", "Sơ đồ", "連線"}, {55, 55, 55, 55, 55}, iconMapping},
        {"AdvanceButton", {"高级", "More", "Расшир.", "Khác", "高級"}, {55, 54, 70, 54, 55}, iconAdvanced},
    };
    for (const Entry& e : entries) {
        // Each language has its own width; the English advanced entry has a name of its own.
        for (int language = 0; language < 5; ++language) {
            const QString name = QLatin1String(e.name);
            const QSize size(e.width[language], 60);
            const QString text = QString::fromUtf8(e.texts[language]);
            const int w = size.width() * kScale;
            const int h = size.height() * kScale;
            const QFont font = fittingCaption(name, text, language, w - 4 * kScale);
            const int captionHeight = QFontMetrics(font).height();
            QImage image = canvas(w, h);
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            p.setRenderHint(QPainter::TextAntialiasing);
            const qreal iconSide = qMin<qreal>(w, h - captionHeight);
            e.draw(p, QRectF((w - iconSide) / 2, 0, iconSide, iconSide));
            p.setFont(font);
            p.setPen(kWhite);
            p.drawText(QRectF(0, h - captionHeight, w, captionHeight), Qt::AlignCenter, text);
            p.end();
            const bool englishAdvanced = language == 1 && name == QLatin1String("AdvanceButton");
            save(image, englishAdvanced ? QStringLiteral("en_advance_option") : QLatin1String(kPrefix[language]) + name);
        }
    }
    // Mirror modes 1-4 of the window layout page: an arrow pair, lit or dim.
    for (int m = 1; m <= 4; ++m)
        for (bool on : {true, false})
            plain(QStringLiteral("mirror%1_%2").arg(m).arg(on ? QStringLiteral("on") : QStringLiteral("off")), 32 * kScale,
                  32 * kScale, [m, on](QPainter& p, const QRectF& r) {
                      const qreal u = r.width() / 10;
                      const QColor c = on ? kOrange : kGrey;
                      p.setPen(pen(c, u * 0.5));
                      p.setBrush(Qt::NoBrush);
                      p.drawRoundedRect(r.adjusted(u * 0.5, u * 0.5, -u * 0.5, -u * 0.5), u, u);
                      p.setPen(pen(on ? kWhite : kGrey, u * 0.7));
                      const bool hor = m == 2 || m == 4;
                      const bool ver = m == 3 || m == 4;
                      if (hor)
                          p.drawLine(QPointF(r.left() + 2.5 * u, r.center().y()), QPointF(r.right() - 2.5 * u, r.center().y()));
                      if (ver)
                          p.drawLine(QPointF(r.center().x(), r.top() + 2.5 * u), QPointF(r.center().x(), r.bottom() - 2.5 * u));
                      if (!hor && !ver)
                          p.drawEllipse(r.center(), 1.5 * u, 1.5 * u);
                  });
    // Device information page: the worded bars beside its three panels.
    static const char* const outputs[5] = {"输出", "Output", "Выходы", "Đầu ra", "輸出"};
    static const char* const inputs[5] = {"输入", "Input", "Входы", "Đầu vào", "輸入"};
    static const char* const versions[5] = {"版本", "Version", "Версия", "Phiên bản", "版本"};
    captionBar(QStringLiteral("output_state"), outputs, 55, kOrange);
    captionBar(QStringLiteral("input_state"), inputs, 58, kBlue);
    captionBar(QStringLiteral("version_state"), versions, 60, kGreen);
    keyNote(QStringLiteral("OK_Enter"), 51, 17, QStringLiteral("OK"));
    keyNote(QStringLiteral("back_return"), 56, 17, QStringLiteral("BACK"));
}

// ---- LED size page and LED output port view ----

void paintLedPagePictures()
{
    // A warning triangle beside the size limits.
    plain(QStringLiteral("warning"), 24 * kScale, 24 * kScale, [](QPainter& p, const QRectF& r) {
        const qreal u = r.width() / 12;
        QPolygonF tri;
        tri << QPointF(r.center().x(), r.top() + u) << QPointF(r.right() - u, r.bottom() - u) << QPointF(r.left() + u, r.bottom() - u);
        p.setPen(pen(kOrange, u * 0.8));
        p.setBrush(kOrange);
        p.drawPolygon(tri);
        p.setPen(pen(QColor(16, 16, 28), u * 1.2));
        p.drawLine(QPointF(r.center().x(), r.top() + 4.5 * u), QPointF(r.center().x(), r.bottom() - 4.2 * u));
        p.drawPoint(QPointF(r.center().x(), r.bottom() - 2.6 * u));
    });
    // Scroll marks at both ends of the port row.
    for (bool left : {true, false})
        plain(left ? QStringLiteral("ltri") : QStringLiteral("rtri"), 14 * kScale, 24 * kScale, [left](QPainter& p, const QRectF& r) {
            const qreal u = r.width() / 14;
            QPolygonF tri;
            const qreal tip = left ? r.left() + 2 * u : r.right() - 2 * u;
            const qreal base = left ? r.right() - 3 * u : r.left() + 3 * u;
            tri << QPointF(tip, r.center().y()) << QPointF(base, r.top() + 4 * u) << QPointF(base, r.bottom() - 4 * u);
            p.setPen(Qt::NoPen);
            p.setBrush(kWhite);
            p.drawPolygon(tri);
        });
    // Link state of a port: a lit or a grey connector.
    for (bool online : {true, false})
        plain(online ? QStringLiteral("online_up") : QStringLiteral("offline_up"), 12 * kScale, 10 * kScale,
              [online](QPainter& p, const QRectF& r) {
                  const qreal u = r.width() / 12;
                  const QColor c = online ? kGreen : kGrey;
                  p.setPen(pen(c, u));
                  p.setBrush(online ? c : QColor(Qt::transparent));
                  p.drawRoundedRect(QRectF(r.left() + 2 * u, r.top() + 3 * u, 8 * u, 6 * u), u, u);
                  p.drawLine(QPointF(r.left() + 4.5 * u, r.top() + 3 * u), QPointF(r.left() + 4.5 * u, r.top() + u));
                  p.drawLine(QPointF(r.left() + 7.5 * u, r.top() + 3 * u), QPointF(r.left() + 7.5 * u, r.top() + u));
              });
}

}

int main(int argc, char** argv)
{
    return picture_output::run(argc, argv, "paint_menu_pictures", QStringLiteral("menu_pictures.qrc"), [] {
        paintSettingsMenu();
        paintLedPagePictures();
    });
}
