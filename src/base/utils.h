#pragma once
#include <QMutex>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>

// Static helpers and the process-wide named mutexes. Lock order: c331_manage mutex ->
// (_led_para_init_mutex | _bri_set_mutex, briefly) -> _c331_bnk_mutex -> _spi_mutex.
// No helper takes two named mutexes.
class Utils {
public:
    static QMutex _system_mutex;
    static QMutex _spi_mutex;
    static QMutex _c331_bnk_mutex;
    static QMutex _file_deal_mutex;
    static QMutex _led_para_init_mutex;
    static QMutex _bri_set_mutex;
    static QMutex _fpga_multicast_mutex;
    static QMutex _test_signal_mutex;
    static QMutex _source_init_mutex;
    static QMutex _check_nosig_mutex;
    static QMutex _source_hdminfo_mutex;
    static QMutex _usleep_mutex;

    // Checksums; a length of 0 gives the initial value.
    static uint32_t BCC(const uint8_t* data, uint32_t length);
    static uint32_t calcCRC32(const uint8_t* data, uint32_t length);     // reflected, init 0, no final xor
    static uint32_t calcCRC16(const uint8_t* data, uint32_t length);     // CRC-16/ARC
    static uint32_t peloCalcCRC16(const uint8_t* data, uint32_t length); // CRC-16/MCRF4XX
    static uint32_t jtc1CRC16Code(const uint8_t* data, uint32_t length); // CRC-16/XMODEM

    // Ticks since stamp t; one less when the counter wrapped since t.
    static uint32_t getTimeSpace(uint32_t t);

    // Runs a shell command under _system_mutex; raw status into *status; 0 or 255.
    static int system_mutex(const QString& command, int* status = nullptr);
    // Housekeeping commands (sync, rm, cp of mode files) that run outside _system_mutex.
    static int system_plain(const QString& command);
    // Sets the system clock, then the hardware clock from it (UTC); false, and the hardware clock
    // untouched, for a date or time that does not exist, a year the board's 32-bit clock cannot
    // hold (before 1970, after 2037), or a command that failed.
    static bool setClock(int year, int month, int day, int hour, int minute, int second);

    // Both are defined in params/config_globals.cpp, beside the INI store they read; nothing in
    // base/ calls them. initIPAddress loads the address globals from the store and sets eth0 up
    // with them (tools run from argument lists): 0, or 255 when eth0 is missing, the set is no
    // usable one, or ifconfig failed.
    static uint32_t initIPAddress();
    static uint32_t getIPAddress();  // configuration globals from the INI store; 0
    // Sets eth0 up with the given addresses, as initIPAddress does with the stored ones.
    static uint32_t applyIPAddress(const QString& ip, const QString& mask, const QString& gateway);
    static bool isDottedIPv4(const QString& text);

    // Raw MTD access; the caller owns fd.
    static uint32_t non_region_erase(int fd, uint32_t offset, uint32_t length, int unlock);
    static uint32_t non_region_write(int fd, const uint8_t* data, uint32_t length, uint32_t offset);

    static int usleep_mutex(uint32_t microseconds);
    static int msleep_mutex(uint32_t milliseconds);

    static int stringToInt(const QString& text);
    static int hexDigit(char c); // 0-15, -1 for a character that is no hex digit
    static QString intToString(int value);
    static int ChangeCode(const char* from, const char* to, const char* input, size_t inputLength,
                          char* output, size_t outputLength);
    static std::string GB2312ToUTF8(const std::string& in);
    static std::string GB2312ToUnicode(const std::string& in);
    static std::string UTF8ToUnicode(const std::string& in);
    static std::string UnicodeToUTF8(const std::string& in);
    static std::string UTF8ToGB2312(const std::string& in);
    static std::string UnicodeToGB2312(const std::string& in);
    static bool isFileExists(const QString& path, bool regularFile);
    static bool isDirExists(const QString& path);
    static int change_file_formt(const QString& path);
    static void get_file_list_smartpath(QStringList& list, const QString& folder, const QString& suffix);
};
