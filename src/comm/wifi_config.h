#pragma once
#include <QString>

#include "base/ipv4_settings.h"
#include "base/tick_alarm.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The box's own Wi-Fi access point on wlan0: hostapd and udhcpd configuration files, a thread that
// brings the access point up step by step and takes it down while the Wi-Fi switch says off, and
// the text commands of the configuration port (13769).
class R58_WIFI_CONFIG {
public:
    static std::atomic<R58_WIFI_CONFIG*> p_wifi; // published once created; read by the transports
    static R58_WIFI_CONFIG* pInstance(); // creates the manager and starts its thread

    static constexpr const char* kHostapdConf = "/etc/rtl_hostapd_2G.conf";
    static constexpr const char* kUdhcpdConf = "/etc/udhcpd.conf";
    // A Wi-Fi set's undo record: the access-point address and hostapd file it replaces, kept
    // while its files are written; a start that finds it puts them back.
    static constexpr const char* kSetUndo = "/etc/rtl_hostapd_2G.conf.undo";
    static constexpr const char* kDefaultAddress = Ipv4::kAccessPointDefault;

    R58_WIFI_CONFIG();
    ~R58_WIFI_CONFIG(); // stops the thread
    int initialize(bool thread = true); // 0, or 255 when the thread cannot start

    // One step of each machine; the thread runs them on their periods (tests call them directly).
    void wifi_ap_start_up();
    int wifi_reset();
    void set_wifi_reset_flag();

    QString get_network_info(int selector); // live value of wlan0 / wlan1, "ERR" when none
    int wifi_config_file_read();
    bool wifi_ap_config_file_create();      // false: a setting is not valid or the file not written
    bool wifi_ap_udhcpd_config_file_create();

    // One datagram of the configuration port; the answer is queued for its sender.
    void wifi_AT_cmd_manage(const uint8_t* data, uint32_t length);
    // The answer to one datagram; false when the datagram is no command (no answer).
    bool answer(const uint8_t* data, uint32_t length, std::string* text);

    // Device-information bytes 217-378 of the control protocol (body positions).
    void putDeviceInfo(uint8_t* body);

    // A copy of the settings, taken under the lock.
    struct Settings {
        std::string wifi_mode, ap_ssid, ap_passphrase, ap_security, ap_channel, ap_ip, tcp_port, ap_mac;
        std::string sta_ssid, sta_psk, sta_ip, sta_ip2, sta_gateway, sta_port, sta_mask, sta_mac, baud_rate;
    };
    Settings settings() const;

    // Checks of received values; every file and command is built from values that pass them.
    static bool validAddress(const std::string& text);   // a dotted quad
    // An address the access point can take: a unicast host address, neither network nor broadcast
    // of its /24, outside the DHCP pool, not on the wired interface's subnet.
    static bool validApAddress(const std::string& text);
    static bool validSsid(const std::string& text);
    static bool validPassphrase(const std::string& text, const std::string& wpa);
    static bool validWpa(const std::string& text);    // hostapd's wpa value, 0-3
    static bool validChannel(const std::string& text); // radio channel 1-14

    uint8_t apState() const { return wifi_ap_state.load(); }
    uint8_t resetFlag() const { return g_wifi_reset_flag.load(); }

private:
    void undoCutSet(); // at start, before the address in use is taken
    void run();
    bool setAccessPoint(const std::vector<std::string>& fields); // "AT+SETDATA=2"
    bool wifiOff() const;
    std::string startAddress() const;
    void useAddress(const std::string& address); // applied next; the DHCP file follows it
    bool writeHostapd(const Settings& s);
    bool writeUdhcpd(const std::string& address);
    static std::string udhcpdText(const std::string& address);

    mutable std::mutex m_mutex; // every text member
    Settings m_s;
    // The address the next start-up applies and the DHCP file is built for. A read-back shows the
    // live address in m_s.ap_ip; it must not undo an address set for the coming restart.
    std::string m_set_ip;

    std::atomic<uint8_t> wifi_ap_state{0};
    std::atomic<uint32_t> wifi_ap_timeticks{0};
    std::atomic<uint8_t> g_wifi_reset_flag{0};
    std::atomic<uint32_t> wifi_reset_timeticks{0};

    std::thread m_thread;
    std::mutex m_stop_mutex;
    std::condition_variable m_stop_cv;
    bool m_stop = false;
    bool m_due = false; // the tick of the next step has come
    TickAlarm m_alarm{[this] {
        {
            std::lock_guard<std::mutex> lock(m_stop_mutex);
            m_due = true;
        }
        m_stop_cv.notify_one();
    }};
};
