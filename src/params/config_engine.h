#pragma once
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVector>
#include <cstdint>
#include <initializer_list>
#include <utility>

// One setting of "/data/configs/tcpip.ini", group "config".
class ConfigItem {
public:
    enum ConfigName {
        TcpPort = 0, UdpPort, IPAddress, SubNetMask, GateWay, MAC, Barcode, WifiIPAddress, EDIDCheck,
        SourceCheck, ImageLayoutPassword, SkyhubServerIp, SkyhubServerPort, SkyhubUserIp,
        SkyhubControllerName, VyrMaxPixel, UsbUpgradeDir, ItemCount
    };
    ConfigItem(const QString& key, ConfigName id, const QVariant& defaultValue, uint8_t valueType,
               const QString& filePath);

    QString key;
    ConfigName id;
    QVariant defaultValue;
    bool noWriteBack = false;
    uint8_t valueType; // 1 numeric, 0 text; kept, not consulted
    QString filePath;
    QVariant value;
};

// The INI settings and the device identity. Items are guarded by an internal mutex, since the GUI,
// protocol and input threads read and write them.
class ConfigEngine : public QObject {
    Q_OBJECT
public:
    static ConfigEngine* p_config;
    static QMap<QString, int> _itemMap;

    // First call creates the engine, the device id and loads the globals; later calls only return it.
    static ConfigEngine* pInstance();

    QVariant read_config_variant(int id);                 // invalid QVariant for an unknown id
    // Stores the value in the INI file and then in force; false for an unknown id or a failed
    // write, which leaves both as they were.
    bool write_config_variant(int id, const QVariant& value);
    // The same for settings that belong together: one write of the file, so they are stored and in
    // force all of them, or (false) none has changed.
    using Setting = std::pair<int, QVariant>;
    bool write_config_variants(std::initializer_list<Setting> settings);
    // Tests: every write that holds this item fails, as on a full disk; -1 (the start value) none.
    static void failWritesOf(int id);
    static bool containsItemStr(const QString& text);
    static int strToItem(const QString& text);
    ConfigItem* getConfigItem(const QString& text);

    static const char* const kIniPath;
    static const char* const kLauncherIniPath;
    static const char* const kLauncherAppPath;

private:
    ConfigEngine();
    void readDeviceId();
    void readUpdateStatus();

    QVector<ConfigItem*> items_;
    QMutex mutex_;
};
