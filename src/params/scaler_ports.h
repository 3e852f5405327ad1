#pragma once
// What the scaler chip measures on its input ports, and the handshake by which a receiver hands a
// new timing over on its port. The scaler's manager holds them (its InputPortState derives from
// ScalerPorts) and publishes them here when it is created, so the receivers below the scaler need
// nothing of it.

namespace c331in {

constexpr int kPorts = 6; // chip ports 0-3 CMOS, 4-5 V-by-One receivers 0-1

// Words of PI_PORT_INFO.
enum PortInfo { PINFO_HTT = 0, PINFO_VTT, PINFO_W2, PINFO_PERIOD, PINFO_HW, PINFO_STATE, PINFO_LANES,
                PINFO_NOSIG = 10, PINFO_INTERLACED = 11, PINFO_WORDS = 12 };

}

struct ScalerPorts {
    // Written by the scaler worker only through setPortInfo/clearPortInfo: the input thread reads
    // the totals (iTE6805 watchdog) with portInfoShared, and both sides must use atomic accesses.
    int PI_PORT_INFO[c331in::kPorts][c331in::PINFO_WORDS] = {};
    // Input-change words, written by the receiver drivers under Utils::_check_nosig_mutex:
    // bit 7 = a check is asked for, bit 0 = not yet confirmed by the scaler.
    int port_check[c331in::kPorts] = {};

    void setPortInfo(int p, int word, int value) { __atomic_store_n(&PI_PORT_INFO[p][word], value, __ATOMIC_RELAXED); }
    void clearPortInfo(int p) // all ones: matches no measurement
    {
        for (int word = 0; word < c331in::PINFO_WORDS; ++word)
            setPortInfo(p, word, -1);
    }
    // From another thread.
    int portInfoShared(int p, int word) const { return __atomic_load_n(&PI_PORT_INFO[p][word], __ATOMIC_RELAXED); }

    // The scaler's manager, once it is complete; they must live as long as the program.
    static void publishPorts(ScalerPorts* ports);
    static ScalerPorts* publishedPorts(); // null until then
};
