#include "ui/texts.h"

#include "base/global.h"

namespace {

struct Row {
    UiText id;
    const char* text[5]; // zh, en, ru, vn, tn
};

// Kept in enum order; the static_assert below and the look-up check it.
const Row kRows[] = {
    {UiText::BarRecall, {"调用用户模式", "User mode invocation", "Вызов режима", "Gọi chế độ người dùng", "調用用戶模式"}},
    {UiText::BarStore, {"保存用户模式", "User mode save", "Сохранение режима", "Lưu chế độ người dùng", "保存用戶模式"}},
    {UiText::Using, {"使用中", "Using", "Активен", "Hiện tại", "使用中"}},
    // The pop-up wraps its text: a no-break space keeps the Vietnamese ellipsis on its line.
    {UiText::TipUsbIn,
     {"U盘已接入\n请稍候…", "USB driver is connected,please wait...", "Драйвер USB подключен,\nпожалуйста,подождите...",
      "Usb đã truy cập\nxin vui lòng chờ\u00A0…", "U盤已接入\n請稍候…"}},
    {UiText::TipUsbOut,
     {"U盘已拔出", "USB drive is unplugged.", "USB-накопитель отключен \nот сети.", "USB Thì không kết nối.", "U盤已拔出"}},
    {UiText::TipUsbReading,
     {"正在读取中，请稍候…", "Reading the data,pls wait", "Прочитайте данные,\nпожалуйста,подождите",
      "Đang đọc,xin vui lòng chờ\u00A0…", "正在讀取中，請稍候…"}},
    {UiText::LedSize, {"LED尺寸:%1 x %2", "LED size:%1 x %2", "Экран LED:%1 x %2", "Cỡ LED:%1 x %2", "LED尺寸:%1 x %2"}},
    {UiText::TitleMachineState, {"设备信息", "Devices", "Устроство", "Thiết bị", "設備信息"}},
    {UiText::TitleInputChoose, {"信号源切换", "Source switch", "Выбор источника", "Chuyển nguồn", "信號源切換"}},
    {UiText::TitleCustomMode, {"用户模式", "User mode", "Режим пользователя", "Chế độ người dùng", "用戶模式"}},
    {UiText::TitleOption, {"设置", "Setting", "Настройки", "Cài đặt", "設置"}},
    {UiText::TitleOutputSet, {"输出设置", "Output Seeting", "Выход", "Thông số đầu ra", "輸出設置"}},
    {UiText::TitleInputCut, {"输入截取", "Input intercept", "Обрезка входа", "Cắt tín hiệu vào", "輸入截取"}},
    {UiText::TitleEDIDset, {"EDID设置", "EDID Settings", "Настройки EDID", "Cài đặt EDID", "EDID設置"}},
    {UiText::TitleImageLayout, {"画面布局", "Screen layout", "Расположение окон", "Bố cục màn hình", "畫面佈局"}},
    {UiText::TitleLinkOption, {"通讯设置", "Communication", "Подключение", "Cài đặt giao tiếp", "通訊設置"}},
    {UiText::TitleImageQuality, {"图像质量", "Image quality", "Качество изображения", "Chất lượng hình ảnh", "圖像質量"}},
    {UiText::TitleAdvancedOption, {"高级设置", "Advanced Settings", "Расширенные настройки", "Cài đặt nâng cao", "高級設置"}},
    {UiText::TitleLedset, {"LED设置", "LED Setting", "Настройки LED", "Cài đặt LED", "LED設置"}},
    {UiText::TitleNetset, {"网口输出", "Port output", "Выходы LAN", "Cổng mạng đầu ra", "網口輸出"}},
    {UiText::TitleLcdshow, {"LCD显示", "LCD display", "Экран LCD", "Màn hình LCD", "LCD顯示"}},
    {UiText::TitleTestChart, {"测试图", "Test pattern", "Тестовый шаблон", "Hình kiểm tra", "測試圖"}},
    {UiText::TitleOthersetup, {"其他设置", "Other settings", "Прочие настройки", "Cài đặt khác", "其他設置"}},
    {UiText::TitleFactory, {"出厂设置", "Factory settings", "Заводские настройки", "Cài đặt gốc", "出廠設置"}},
    {UiText::TitleQuality, {"画质", "Quality", "Качество", "Chất lượng", "畫質"}},
    {UiText::TitleTemperature, {"色温", "Temperature", "Цветовая температура", "Nhiệt độ màu", "色溫"}},
    {UiText::TitleLinkcom, {"串口连接", "Serial port", "COM-порт", "Cổng nối tiếp", "串口連接"}},
    {UiText::TitleLinkwlan, {"网口设置", "Net connect", "Сетевое подключение", "Cài đặt cổng mạng", "網口設置"}},
    {UiText::TitleFactoryage, {"老化记录", "Ageing log", "Журнал прогона", "Nhật ký lão hóa", "老化記錄"}},
    {UiText::TitleSmartMapping, {"智能调屏", "Smart debugging screen", "Умная регулировка экрана", "Điều chỉnh màn hình thông minh", "智能調屏"}},
    {UiText::TitleRcvRecovery, {"接收卡恢复", "Rcv recovery", "Восстановление карт", "Khôi phục thẻ nhận", "接收卡恢復"}},
    {UiText::TitleUsbUpgrade, {"USB升级", "USB UPDATE", "Обновление через USB", "Cập nhật qua USB", "USB昇級"}},
    {UiText::Upgrading, {"正在升级，请稍候…", "Updating, please wait", "Обновление,\nподождите…", "Đang cập nhật, xin chờ…", "正在升級，請稍候…"}},
    {UiText::SettingsNotSaved,
     {"设置未能保存：存储无法写入。\n断电后更改将丢失。", "Settings are not being saved: the storage cannot be written.\nChanges are lost at power off.",
      "Настройки не сохраняются: память недоступна для записи.\nИзменения пропадут при выключении.",
      "Cài đặt không được lưu: không ghi được bộ nhớ.\nThay đổi sẽ mất khi tắt nguồn.", "設置未能保存：存儲無法寫入。\n斷電後更改將丟失。"}},
    {UiText::StoreFailed, {"保存失败", "Store failed", "Ошибка сохранения", "Lưu thất bại", "保存失敗"}},
};
static_assert(sizeof kRows / sizeof kRows[0] == size_t(UiText::Count), "one row per text");

}

int languageColumn(int language)
{
    return (language == 0 || language == 2 || language == 3 || language == 4) ? language : 1;
}

QString uiText(UiText id, int language)
{
    const size_t i = size_t(id);
    if (i >= size_t(UiText::Count) || kRows[i].id != id)
        return QString();
    return QString::fromUtf8(kRows[i].text[languageColumn(language)]);
}

QString uiText(UiText id)
{
    return uiText(id, g_language.load());
}
