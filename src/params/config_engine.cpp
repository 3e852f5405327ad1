#include "params/config_engine.h"
#include "base/atomic_file.h"

#include "base/global.h"
#include "base/logMsg.h"
#include "base/utils.h"
#include "platform/mem_window.h"
#include "platform/paths.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSettings>
#include <array>
#include <atomic>
#include <cstdio>

ConfigEngine* ConfigEngine::p_config = nullptr;
QMap<QString, int> ConfigEngine::_itemMap;
const char* const ConfigEngine::kIniPath = "/data/configs/tcpip.ini";
const char* const ConfigEngine::kLauncherIniPath = "/data/configs/led_load_config.ini";
const char* const ConfigEngine::kLauncherAppPath = "/data/app/vyrR58N -platform linuxfb";

namespace {

std::atomic<ConfigEngine*> published{nullptr};
std::atomic<int> failingItem{-1}; // tests only

QString resolved(const char* path)
{
    return QString::fromStdString(platform::Paths::resolve(path));
}

struct ItemDefinition {
    const char* name;
    QVariant defaultValue;
    uint8_t numeric;
};

const std::array<ItemDefinition, ConfigItem::ItemCount>& itemDefinitions()
{
    static const std::array<ItemDefinition, ConfigItem::ItemCount> definitions = {{
        {"TcpPort", 5005, 1},
        {"UdpPort", 5008, 1},
        {"IPAddress", QStringLiteral("192.168.1.199"), 0},
        {"SubNetMask", QStringLiteral("255.255.255.0"), 0},
        {"GateWay", QStringLiteral("192.168.1.1"), 0},
        {"MAC", QStringLiteral("FF:FF:FF:FF:FF:FF"), 0},
        {"Barcode", QStringLiteral(" "), 0},
        {"WifiIPAddress", QStringLiteral("192.168.22.101"), 0},
        {"EDIDCheck", QStringLiteral("Once"), 0},
        {"SourceCheck", 255, 1},
        {"ImageLayoutPassword", QStringLiteral("No"), 0},
        {"skyhubserverip", QStringLiteral(" "), 0},
        {"skyhubserverport", QStringLiteral(" "), 1},
        {"skyhubuserip", QStringLiteral(" "), 0},
        {"skyhubcontrollername", QStringLiteral(" "), 0},
        {"VyrMaxPixel_UINT", 0xA00000, 1},
        {"usbupgradedir", QStringLiteral("VYR-R29 Rev.c"), 0},
    }};
    return definitions;
}

// The 32 device-id characters from the nibbles of the SoC's three unique-id words.
void formDeviceId(uint16_t u, uint16_t v, uint16_t w, char out[32])
{
    const int U3 = u >> 12 & 0xF, U2 = u >> 8 & 0xF, U1 = u >> 4 & 0xF, U0 = u & 0xF;
    const int V3 = v >> 12 & 0xF, V2 = v >> 8 & 0xF, V1 = v >> 4 & 0xF, V0 = v & 0xF;
    const int W3 = w >> 12 & 0xF, W2 = w >> 8 & 0xF, W1 = w >> 4 & 0xF, W0 = w & 0xF;
    const int values[] = {
        U3, V3, W3, V1, W1, W0, W2, (U3 + V3) & 1, (W3 + V1) >> 1, V0, V2, (W0 + W1) >> 1,
        (U3 + V3) >> 1, (W0 + W1) & 1, (W3 + V1) & 1, U2, U1, (W2 + V0) & 1, (V2 + U2) & 1,
        (U1 + U0) & 1, (U1 + U0) >> 1, (U3 + V3 + W3) % 3, (U3 + V3 + W3) / 3, (U3 + V2 + U2) % 3,
        (U3 + V2 + U2) / 3, (V1 + W2 + U1) % 3, (V1 + W2 + U1) / 3, (W1 + V0 + U0) % 3,
        (W1 + V0 + U0) / 3, (V2 + U2) >> 1, (W2 + V0) >> 1, U0,
    };
    static_assert(sizeof values / sizeof values[0] == 32, "the device id has 32 characters");
    if (traceOn()) {
        printf("\n mmap uuid161= %#x ,%#X ,%#x \n", u, v, w);
        for (int value : values)
            printf(" %#x ", value);
    }
    for (int i = 0; i < 32; ++i)
        out[i] = "0123456789abcdef"[values[i] & 0xF];
}

}

ConfigItem::ConfigItem(const QString& key, ConfigName id, const QVariant& defaultValue, uint8_t valueType,
                       const QString& filePath)
    : key(key), id(id), defaultValue(defaultValue), valueType(valueType), filePath(filePath)
{
}

ConfigEngine::ConfigEngine()
{
    const QString path = resolved(kIniPath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Before the first write: a lock a killed run left would hold every write up.
    for (const char* ini : {kIniPath, kLauncherIniPath})
        if (const int removed = removeSettingsLockLeftovers(QString::fromLatin1(ini)))
            writeLogMsg(LOG_WARNING, std::to_string(removed) + " lock file(s) of a killed run removed beside " + ini);
    QSettings ini(path, QSettings::IniFormat);
    Utils::system_mutex(QStringLiteral("chattr +S %1").arg(kIniPath));

    for (int id = 0; id < ConfigItem::ItemCount; ++id) {
        const ItemDefinition& def = itemDefinitions()[size_t(id)];
        const QString key = QStringLiteral("config/") + def.name;
        auto* item = new ConfigItem(key, ConfigItem::ConfigName(id), def.defaultValue, def.numeric, kIniPath);
        _itemMap[key] = id;
        const QVariant stored = ini.value(key);
        if (!stored.toString().isEmpty()) {
            item->value = stored;
        } else {
            // A second, fresh handle sees what another writer may have put there meanwhile.
            const QVariant fresh = QSettings(path, QSettings::IniFormat).value(key);
            if (!fresh.toString().isEmpty()) {
                item->value = fresh;
                ini.setValue(key, fresh);
            } else if (!def.defaultValue.toString().isEmpty()) {
                item->value = def.defaultValue;
                if (!item->noWriteBack)
                    ini.setValue(key, def.defaultValue);
            }
        }
        items_.append(item);
    }
    ini.sync();
}

ConfigEngine* ConfigEngine::pInstance()
{
    ConfigEngine* engine = published.load(std::memory_order_acquire);
    if (engine)
        return engine;
    engine = new ConfigEngine();
    p_config = engine;
    // The INI settings load even when the id window is missing; g_pid then stays empty.
    engine->readDeviceId();
    Utils::getIPAddress();
    engine->readUpdateStatus();
    factoryage_log.clear();
    factoryage_count = 0;
    published.store(engine, std::memory_order_release);
    return engine;
}

namespace {
// The SoC's register window and, in it, the unique-id words and the register whose bit 8 has to be
// clear before they read.
constexpr uint32_t kSocWindowBase = 0x1F000000;
constexpr uint32_t kSocWindowSize = 0x2B0000;
constexpr uint32_t kIdReadControl = 0x400C;
constexpr uint16_t kIdReadBlocked = 0x0100;
constexpr uint32_t kIdWordU = 0x4058;
constexpr uint32_t kIdWordV = 0x405C;
constexpr uint32_t kIdWordW = 0x4060;
}

void ConfigEngine::readDeviceId()
{
    std::unique_ptr<platform::MemWindow> window = platform::openMemWindow(kSocWindowBase, kSocWindowSize);
    if (!window) {
        writeLogMsg(LOG_ERROR, "cannot map /dev/mem, the device id stays empty");
        return;
    }
    window->write16(kIdReadControl, window->read16(kIdReadControl) & uint16_t(~kIdReadBlocked));
    const uint16_t u = window->read16(kIdWordU);
    const uint16_t v = window->read16(kIdWordV);
    const uint16_t w = window->read16(kIdWordW);
    formDeviceId(u, v, w, g_pid);
}

void ConfigEngine::readUpdateStatus()
{
    QSettings launcher(resolved(kLauncherIniPath), QSettings::IniFormat);
    launcher.beginGroup(QStringLiteral("app-1"));
    g_update_status = launcher.value(QStringLiteral("app_path")).toString() == QLatin1String(kLauncherAppPath) ? 1 : 0;
}

QVariant ConfigEngine::read_config_variant(int id)
{
    if (id < 0 || id >= ConfigItem::ItemCount)
        return QVariant();
    QMutexLocker locker(&mutex_);
    return items_[id]->value;
}

bool ConfigEngine::write_config_variant(int id, const QVariant& value)
{
    return write_config_variants({{id, value}});
}

void ConfigEngine::failWritesOf(int id)
{
    failingItem = id;
}

bool ConfigEngine::write_config_variants(std::initializer_list<Setting> settings)
{
    for (const Setting& s : settings) {
        if (s.first < 0 || s.first >= ConfigItem::ItemCount) {
            writeLogMsg(LOG_ERROR, "write_config_variant: unknown item " + std::to_string(s.first));
            return false;
        }
        if (s.first == failingItem.load()) {
            writeLogMsg(LOG_ERROR, "write_config_variant: item " + std::to_string(s.first) + " cannot be written");
            return false;
        }
    }
    QMutexLocker locker(&mutex_);
    auto stored = [this](int id) { return !items_[id]->noWriteBack && !items_[id]->filePath.isEmpty(); };
    // The key this id is stored under: the first in the map that names it.
    auto keyOf = [this](int id) {
        for (auto it = _itemMap.constBegin(); it != _itemMap.constEnd(); ++it) {
            if (it.value() == id)
                return it.key();
        }
        return items_[id]->key;
    };
    // Every item lives in the one INI file: the whole group is one write of it.
    QString file;
    for (const Setting& s : settings) {
        if (stored(s.first))
            file = items_[s.first]->filePath;
    }
    if (!file.isEmpty()) {
        QSettings ini(resolved(file.toStdString().c_str()), QSettings::IniFormat);
        for (const Setting& s : settings) {
            if (stored(s.first))
                ini.setValue(keyOf(s.first), s.second);
        }
        ini.sync();
        if (ini.status() != QSettings::NoError) {
            // Qt keeps an unwritten change for the file's next reader and writer: put the values
            // in force in its place.
            for (const Setting& s : settings) {
                if (stored(s.first))
                    ini.setValue(keyOf(s.first), items_[s.first]->value);
            }
            return false;
        }
    }
    // The values in use follow the file: settings that were not stored are not in force either.
    for (const Setting& s : settings)
        items_[s.first]->value = s.second;
    return true;
}

bool ConfigEngine::containsItemStr(const QString& text)
{
    return _itemMap.contains(text);
}

int ConfigEngine::strToItem(const QString& text)
{
    const QString key = text.startsWith(QLatin1String("config/")) ? text : QStringLiteral("config/") + text;
    return _itemMap.value(key, 0);
}

ConfigItem* ConfigEngine::getConfigItem(const QString& text)
{
    if (!_itemMap.contains(text))
        return nullptr;
    return items_.value(_itemMap.value(text), nullptr);
}
