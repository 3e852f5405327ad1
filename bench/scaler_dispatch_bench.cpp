// Time from a handed-over change of one window to the end of the worker's dispatch (the signal to
// the page thread follows the last register write of the change), and the SPI transfers it costs.
// Runs the real worker thread against the simulated chip. Then the worker's CPU share while idle
// (argument 2: seconds, 5 by default), from the kernel's run-time count of its thread.
#include "scaler/c331_manage.h"
#include "fpga/fpga_manage.h"
#include "base/global.h"
#include "video_chips/keltosource.h"
#include "params/config_engine.h"
#include "params/vyrrampara.h"
#include "platform/board.h"
#include "platform/paths.h"
#include "platform/sim/devices/c331_chip.h"

#include <QCoreApplication>
#include <QDir>
#include <dirent.h>
#include <fstream>
#include <string>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

// Nanoseconds the named thread of this process has run, -1 when it is not found.
static long long threadRunNs(const std::string& name)
{
    DIR* dir = opendir("/proc/self/task");
    if (!dir)
        return -1;
    long long ns = -1;
    while (dirent* e = readdir(dir)) {
        const std::string task = std::string("/proc/self/task/") + e->d_name;
        std::ifstream comm(task + "/comm");
        std::string n;
        if (!std::getline(comm, n) || n != name)
            continue;
        std::ifstream sched(task + "/schedstat");
        sched >> ns;
    }
    closedir(dir);
    return ns;
}

int main(int argc, char** argv)
{
    char pattern[] = "/tmp/vyr-bench-XXXXXX";
    const char* root = mkdtemp(pattern);
    if (!root)
        return 1;
    platform::Paths::setRoot(root);
    // Two HDMI receivers carry a picture, so the window always switches to a live input and waits
    // for its frame as on a working box.
    QDir().mkpath(QString(root) + "/sim");
    std::ofstream(std::string(root) + "/sim/board.json")
        << R"({"inputs": {"1": "1920x1080p60", "2": "1920x1080p60"}, "cards": {"1": 4}})";
    platform::configureBoard();
    QCoreApplication app(argc, argv);
    g_debugSwitch = 0;

    ConfigEngine::pInstance(); // the INI's input mask: every input is polled
    VyrRamPara* store = VyrRamPara::pInstance();
    keltosource::pInstance();
    fpga_manage::pInstance();
    keltosource::p_kelto_source->initialize(); // the input thread: windows wait for live frames
    std::atomic<int64_t> doneAt{0};
    QObject::connect(store, &VyrRamPara::sig_update_para, store,
                     [&](int) { doneAt = Clock::now().time_since_epoch().count(); }, Qt::DirectConnection);
    c331_manage* scaler = c331_manage::pInstance();
    // The panel's 10 ms system tick paces the input start-up: without the panel, this thread counts it.
    std::atomic<bool> ticking{true};
    std::thread tick([&] {
        while (ticking.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            G_timeTicks.fetch_add(1);
        }
    });
    while (g_fpga_c331_start.load() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    g_force_bkcolor = 2;

    const int rounds = argc > 1 ? atoi(argv[1]) : 300;
    auto& chip = platform::Sim::c331Chip();
    auto measure = [&](const char* what, const std::function<void(int)>& change) {
        std::vector<double> micros;
        std::vector<size_t> transfers;
        size_t writes = 0, unchanged = 0; // data writes, and those that left their cell as it was
        for (int i = 0; i < rounds; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            doneAt = 0;
            platform::Sim::C331Chip::Snapshot cells = chip.snapshot();
            chip.clearLog();
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
            for (const auto& t : chip.log()) {
                if (t.kind != platform::Sim::C331Chip::Transfer::Write)
                    continue;
                uint8_t& cell = cells[size_t(t.bank) * 128 + (t.addr & 0x7F)];
                ++writes;
                unchanged += cell == t.value;
                cell = t.value;
            }
        }
        std::sort(micros.begin(), micros.end());
        std::sort(transfers.begin(), transfers.end());
        printf("%s, %d rounds: median %.1f us, p95 %.1f us, p99 %.1f us, max %.1f us; SPI transfers median %zu, "
               "max %zu; %zu of %zu data writes left their register as it was\n",
               what, rounds, micros[micros.size() / 2], micros[micros.size() * 95 / 100],
               micros[micros.size() * 99 / 100], micros.back(), transfers[transfers.size() / 2], transfers.back(),
               unchanged, writes);
    };
    // Window 0 is on after defaults: its input switches between inputs 1 and 2, both live, first
    // without the fade effect, then with it.
    {
        ScalerHandOver h;
        store->setU16(blk::window(0, blk::win::kOutput), store->u16(blk::window(0, blk::win::kOutput)) & ~blk::win::kOutEffect);
        h.commit(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // The receivers start up on the system tick (some seconds); until window 0's input is measured
    // live, a change would take the fixed pause for windows without a live input.
    auto live = [&] {
        const int p = scaler->PM_INPUT[0];
        return p >= 0 && p < c331in::kPorts && scaler->PI_FV[p] > 0;
    };
    for (int source : {2, 1, 2}) {
        for (int i = 0; i < 300 && !live(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!live())
            printf("input %d never came up: the changes below include the fixed pauses\n", source == 2 ? 1 : 2);
        ScalerHandOver h;
        store->setU16(blk::window(0, blk::win::kSource), uint16_t(source));
        h.commit(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    measure("window 0 source change", [&](int i) { store->setU16(blk::window(0, blk::win::kSource), i % 2 ? 2 : 1); });
    {
        ScalerHandOver h;
        store->setU16(blk::window(0, blk::win::kOutput), store->u16(blk::window(0, blk::win::kOutput)) | blk::win::kOutEffect);
        h.commit(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    measure("window 0 source change with fade", [&](int i) { store->setU16(blk::window(0, blk::win::kSource), i % 2 ? 2 : 1); });
    measure("contrast change", [&](int i) { store->setU16(blk::kContrast, i % 2 ? 40 : 60); });

    const int idleSeconds = argc > 2 ? atoi(argv[2]) : 5;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const size_t transfersBefore = chip.transferCount();
    const long long runBefore = threadRunNs("c331_manage");
    const auto idleStart = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const long long runAfter = threadRunNs("c331_manage");
    const double wall = std::chrono::duration<double, std::nano>(Clock::now() - idleStart).count();
    if (runBefore < 0 || runAfter < 0)
        printf("idle worker: thread not found\n");
    else
        printf("idle worker, %d s: %.3f%% of one core, %zu SPI transfers\n", idleSeconds,
               100.0 * double(runAfter - runBefore) / wall, chip.transferCount() - transfersBefore);
    ticking = false;
    tick.join();
    QDir(root).removeRecursively();
    (void)scaler;
    return 0;
}
