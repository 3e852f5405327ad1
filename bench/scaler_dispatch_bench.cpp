// Time from a handed-over change of one window to the end of the worker's dispatch (the signal to
// the page thread follows the last register write of the change), and the SPI transfers it costs.
// Runs the real worker thread against the simulated chip.
#include "base/bytes.h"
#include "scaler/c331_manage.h"
#include "fpga/fpga_manage.h"
#include "base/global.h"
#include "video_chips/keltosource.h"
#include "params/vyrrampara.h"
#include "platform/paths.h"
#include "platform/sim/devices/c331_chip.h"

#include <QCoreApplication>
#include <QDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

int main(int argc, char** argv)
{
    char pattern[] = "/tmp/vyr-bench-XXXXXX";
    const char* root = mkdtemp(pattern);
    if (!root)
        return 1;
    platform::Paths::setRoot(root);
    QCoreApplication app(argc, argv);
    g_debugSwitch = 0;

    VyrRamPara* store = VyrRamPara::pInstance();
    keltosource::pInstance();
    fpga_manage::pInstance();
    std::atomic<int64_t> doneAt{0};
    QObject::connect(store, &VyrRamPara::sig_update_para, store,
                     [&](int) { doneAt = Clock::now().time_since_epoch().count(); }, Qt::DirectConnection);
    c331_manage* scaler = c331_manage::pInstance();
    while (g_fpga_c331_start.load() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    g_force_bkcolor = 2;

    const int rounds = argc > 1 ? atoi(argv[1]) : 300;
    auto& chip = platform::Sim::c331Chip();
    auto measure = [&](const char* what, const std::function<void(int)>& change) {
        std::vector<double> micros;
        std::vector<size_t> transfers;
        for (int i = 0; i < rounds; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            doneAt = 0;
            const size_t before = chip.transferCount();
            const auto start = Clock::now();
            {
                ScalerHandOver h;
                change(i);
                h.commit(1);
            }
            while (doneAt.load() == 0)
                std::this_thread::yield();
            micros.push_back(std::chrono::duration<double, std::micro>(Clock::duration(doneAt.load()) -
                                                                        start.time_since_epoch()).count());
            transfers.push_back(chip.transferCount() - before);
        }
        std::sort(micros.begin(), micros.end());
        std::sort(transfers.begin(), transfers.end());
        printf("%s, %d rounds: median %.1f us, p95 %.1f us, max %.1f us; SPI transfers median %zu, max %zu\n", what,
               rounds, micros[micros.size() / 2], micros[micros.size() * 95 / 100], micros.back(),
               transfers[transfers.size() / 2], transfers.back());
    };
    measure("window 1 source change", [&](int i) { putU16(store->block + kWindowBase + kWindowSize + 8, i % 2 ? 3 : 4); });
    measure("contrast change", [&](int i) { putU16(store->block + 0x882, i % 2 ? 40 : 60); });
    QDir(root).removeRecursively();
    (void)scaler;
    return 0;
}
