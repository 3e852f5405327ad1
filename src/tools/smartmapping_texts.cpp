#include "tools/smartmapping_texts.h"

#include "base/global.h"
#include "ui/texts.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QWidget>

namespace MapText {
namespace {
// simplified Chinese, English, Russian, Vietnamese, traditional Chinese
const char* const kTexts[Count][5] = {
    {"快捷点屏", "Debugging\nscreen", "Быстрое каса\nние экрана", "Chạm vào màn\nhình nhanh", "快捷點屏"},
    {"加载扫描", "Load scan", "Загрузить\nсканирование", "Cài đặt\nquét", "加載掃描"},
    {"参数固化", "Curing\nparameter", "Фиксация\nпараметров", "Lưu thông\nsố", "參數固化"},
    {"Mapping", "Mapping", "Mapping", "Mapping", "Mapping"},
    {"步骤1箱体设置", "Step 1 Cabinet setup", "Шаг 1. Настройка кабинета", "Bước 1: Thiết lập cabin", "步驟1箱體設置"},
    {"箱体宽度", "Cabinet width", "Ширина кабинета", "Chiều rộng cabin", "箱體寬度"},
    {"箱体高度", "Cabinet height", "Высота кабинета", "Chiều cao cabin", "箱體高度"},
    {"下一步", "Next", "Следующий\nшаг", "Bước tiếp theo", "下一步"},
    {"步骤2选择网口", "Step 2 Select port", "Шаг 2. Выберите сетевой порт", "Bước 2 :Chọn cổng mạng", "步驟2選擇網口"},
    {"上一步", "Previous", "Предыдущий\nшаг", "Thao tác\nphía trước", "上一步"},
    {"网口%1~%2", "LED%1~%2", "LED%1~%2", "LED%1~%2", "網口%1~%2"},
    {"步骤3屏参设置", "Step 3 Screen parameter setting", "Шаг 3.Настройка параметров экрана",
     "Bước 3:Cài đặt thông số màn hình", "步驟3屏參設置"},
    {"箱体行数", "Number of Cabinet in rows", "Кол-во рядов", "Số lượng hàng tủ", "箱體行數"},
    {"箱体列数", "Number of Cabinet in lines", "Кол-во столбцов", "Số lượng cột tủ", "箱體列數"},
    {"屏体走线方式", "Screen alignment mode", "Тип подключения кабинетов", "Chế độ căn chỉnh màn hình", "屏體走線方式"},
    {"水平偏移", "Horizontal offset", "Горизонтальное\nсмещение", "Bù đắp theo\nchiều ngang", "水平偏移"},
    {"垂直偏移", "Vertical offset", "Вертикальное\nсмещение", "Bù đắp theo\nchiều dọc", "垂直偏移"},
    {"发送", "Send", "Отправить", "Gửi", "髮送"},
    {"走线%1", "Routing %1", "След%1", "Dấu vết%1", "走線%1"},
    {"取消", "Cancle", "Отмена", "Hủy bỏ", "取消"},
    {"箱体宽度", "width", "width", "width", "箱體寬度"},
    {"箱体高度", "height", "height", "height", "箱體高度"},
    {"箱体行数", "rows", "rows", "rows", "箱體行數"},
    {"箱体列数", "lines", "lines", "lines", "箱體列數"},
    {"水平偏移", "Horizontal", "Horizontal", "Horizontal", "水平偏移"},
    {"垂直偏移", "Vertical", "Vertical", "Vertical", "垂直偏移"},
    {"步骤1选择网口", "Step 1 Select network port", "Шаг 1. Выбор LAN-порта", "Bước 1 Chọn cổng mạng", "步驟1選擇網口"},
    {"步骤2加载扫描参数", "Step 2 Upload scan parameters", "Шаг 2.Настройка сканирования", "Bước 2Tải thông số quét",
     "步驟2加載掃描參數"},
    {"检测到以下屏参文件", "Detected the following screen parameter\n files",
     "Были обнаружены следующие файлы \nпараметров экрана", "Các tập tin tham số màn hình sau đã\n được phát hiện",
     "檢測到以下屏參文件"},
    {"加载", "Load", "Загрузка", "Tải về", "加載"},
    {"无加载文件!", "No loaded file!", "Нет файлов для загрузки!", "Không có tập tin để tải!", "無加載文件!"},
    {"参数固化操作", "Parameter curing operation", "Операция отверждения параметров", "Lưu thông số", "參數固化操作"},
    {"确定", "OK", "OK", "Đồng ý", "確定"},
    {"Mapping开关", "Mapping switch", "Переключатель сопоставления", "Bật mapping", "Mapping開關"},
    {"完成", "Done", "Готово", "Hoàn tất", "完成"},
    {"失败：接收卡无应答", "Failed: cards did not answer", "Ошибка: карты не ответили", "Lỗi: thẻ không phản hồi",
     "失敗：接收卡無應答"},
    {"失败：接收卡未全部切换", "Failed: not every card switched", "Ошибка: не все карты переключены",
     "Lỗi: không phải thẻ nào cũng chuyển", "失敗：接收卡未全部切換"},
    {"箱体宽高至少为1", "Cabinet size must be 1 or more", "Размер кабинета: от 1", "Kích thước cabin từ 1 trở lên",
     "箱體寬高至少為1"},
    {"行数和列数须为1-255", "Rows and columns: 1 to 255", "Ряды и столбцы: от 1 до 255", "Hàng và cột: từ 1 đến 255",
     "行數和列數須為1-255"},
    {"箱体多于接收卡(%1)", "More cabinets than cards (%1)", "Кабинетов больше, чем карт (%1)",
     "Nhiều cabin hơn thẻ (%1)", "箱體多於接收卡(%1)"},
    {"偏移超出屏幕", "Offset outside the screen", "Смещение вне экрана", "Bù đắp nằm ngoài màn hình", "偏移超出屏幕"},
    {"该网口没有接收卡", "No card on this port", "На порту нет карт", "Cổng này không có thẻ", "該網口沒有接收卡"},
    {"忙，请稍后", "Busy, try later", "Занято, позже", "Đang bận, thử lại sau", "忙，請稍後"},
    {"FPGA未就绪", "FPGA not ready", "FPGA не готова", "FPGA chưa sẵn sàng", "FPGA未就緒"},
    {"未找到接收卡", "No receiving card found", "Приёмные карты не найдены", "Không tìm thấy thẻ nhận", "未找到接收卡"},
    {"接收卡(%1)多于箱体(%2)", "More cards (%1) than cabinets (%2)", "Карт (%1) больше кабинетов (%2)",
     "Thẻ (%1) nhiều hơn cabin (%2)", "接收卡(%1)多於箱體(%2)"},
    {"失败：网口%1无应答", "Failed: no answer on LED%1", "Ошибка: нет ответа LED%1", "Lỗi: không phản hồi LED%1",
     "失敗：網口%1無應答"},
    {"失败：网口%1未切换", "Failed: not switched on LED%1", "Ошибка: не переключено LED%1", "Lỗi: chưa chuyển LED%1",
     "失敗：網口%1未切換"},
};
}

QString text(Id id, int language)
{
    return QString::fromUtf8(kTexts[id][languageColumn(language)]);
}

QString text(Id id)
{
    return text(id, g_language.load());
}
}

void mapFont(QWidget* w, int chinesePixels, int otherPixels)
{
    const int column = languageColumn(g_language.load());
    QFont f = w->font();
    f.setPixelSize(column == 0 || column == 4 ? chinesePixels : otherPixels);
    w->setFont(f);
}

namespace MapPictures {
namespace {
const QColor kWhite(255, 255, 255), kOrange(255, 171, 84), kGreen(0, 214, 91), kGrey(130, 130, 150);

// Cell (c, r) of a 4 x 3 grid visited at step k of wiring mode m: the same walks the FPGA worker
// lays the cards out with (rows for 1-4 and 9-11, columns for 5-8 and 12-16; 1-8 snake).
QPoint cell(int mode, int k)
{
    const int rows = 3, columns = 4;
    int c, r;
    if (mode <= 4 || (mode >= 9 && mode <= 11)) {
        const bool bottomUp = mode == 1 || mode == 2 || mode == 9 || mode == 11;
        const bool leftFirst = mode == 2 || mode == 4 || mode == 10 || mode == 11;
        const int rr = k / columns, cc = k % columns;
        r = bottomUp ? rows - 1 - rr : rr;
        const bool left = mode <= 4 && (rr & 1) ? !leftFirst : leftFirst;
        c = left ? cc : columns - 1 - cc;
    } else {
        const bool fromRight = mode == 5 || mode == 6 || mode == 13 || mode == 16;
        const bool upFirst = mode == 5 || mode == 8 || mode == 12 || mode == 13 || mode == 15;
        const int cc = k / rows, rr = k % rows;
        c = fromRight ? columns - 1 - cc : cc;
        const bool up = mode <= 8 && (cc & 1) ? !upFirst : upFirst;
        r = up ? rows - 1 - rr : rr;
    }
    return QPoint(c, r);
}
}

QIcon routing(int mode)
{
    QPixmap pm(80, 50);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal cw = 80.0 / 4, ch = 50.0 / 3;
    p.setPen(QPen(kGrey, 1));
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 3; ++r)
            p.drawRect(QRectF(c * cw + 1, r * ch + 1, cw - 2, ch - 2));
    if (mode < 1 || mode > 16)
        return QIcon(pm);
    QPainterPath path;
    for (int k = 0; k < 12; ++k) {
        const QPoint at = cell(mode, k);
        const QPointF centre(at.x() * cw + cw / 2, at.y() * ch + ch / 2);
        if (k == 0)
            path.moveTo(centre);
        else
            path.lineTo(centre);
    }
    p.setPen(QPen(kOrange, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path);
    const QPoint first = cell(mode, 0);
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    p.drawEllipse(QPointF(first.x() * cw + cw / 2, first.y() * ch + ch / 2), 5, 5);
    return QIcon(pm);
}

QIcon tile(bool online)
{
    QPixmap pm(44, 30);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(online ? kGreen : kGrey, 2));
    p.drawRoundedRect(QRectF(8, 4, 28, 20), 3, 3);
    p.drawRect(QRectF(16, 24, 12, 4));
    for (int i = 0; i < 4; ++i)
        p.drawLine(QPointF(14 + 5 * i, 10), QPointF(14 + 5 * i, 16));
    return QIcon(pm);
}

QIcon arrow(bool left)
{
    QPixmap pm(30, 40);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kOrange);
    QPolygonF poly;
    if (left)
        poly << QPointF(24, 6) << QPointF(24, 34) << QPointF(6, 20);
    else
        poly << QPointF(6, 6) << QPointF(6, 34) << QPointF(24, 20);
    p.drawPolygon(poly);
    return QIcon(pm);
}

QIcon onOff(bool on)
{
    QPixmap pm(80, 40);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(on ? QColor(71, 119, 255) : kGrey);
    p.drawRoundedRect(QRectF(2, 4, 76, 32), 16, 16);
    p.setBrush(kWhite);
    p.drawEllipse(QPointF(on ? 60 : 20, 20), 13, 13);
    return QIcon(pm);
}
}

#include "ui/numberkeyboard.h"

#include <QLabel>
#include <QPushButton>

QLabel* mapLabel(QWidget* parent, const char* name, const QRect& r, bool wrap)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(r);
    l->setWordWrap(wrap);
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    l->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    return l;
}

QPushButton* mapButton(QWidget* parent, const char* name, const QRect& r)
{
    auto* b = new QPushButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(r);
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoDefault(false);
    b->setStyleSheet(QStringLiteral(
        "background-color: rgb(33, 36, 53);color:rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);"));
    return b;
}

My_lineEdit* mapEdit(QWidget* parent, const char* name, const QRect& r, const char* text)
{
    auto* e = new My_lineEdit(parent);
    e->setObjectName(QLatin1String(name));
    e->setGeometry(r);
    e->setFocusPolicy(Qt::NoFocus);
    e->setReadOnly(true); // values come from the keypad only
    e->setAlignment(Qt::AlignCenter);
    e->setText(QLatin1String(text));
    e->setStyleSheet(QStringLiteral(
        "color:rgb(255, 255, 255);background-color:rgb(33, 36, 53);border:1px solid rgb(255,255,255);"));
    return e;
}
