// The card jobs that replay a file through the card worker to the simulated FPGA and its LED
// network: the first input byte picks the job (scan file, query or recovery from "QZFX", a
// recovery after its query), the scan file's port or a card the query finds out of date, the rest
// is the file.
#include "fuzz_fpga.h"

#include "fpga/fpga_jobs_block.h"

#include <QString>

namespace {
using platform::Sim::fpgaChip;

// Longer than any job of a well-formed file of the corpus takes; a job still running then is
// abandoned, as the page's cancel would.
constexpr int kMaxTicks = 4000;
constexpr uint32_t kScreen = 0x11223344; // the configuration of the LED network's cards

fpga_manage* fpga;
using FuzzFpga::tick;

bool setUp()
{
    fpga = FuzzFpga::up([] { linkTwoPortsOfScreen(kScreen); });
    return true;
}

void runJob(uint8_t job)
{
    g_send_para[1] = 0;
    g_send_para[0] = job;
    for (int i = 0; i < kMaxTicks && g_send_para[0].load() != 0; ++i)
        tick();
    for (auto& b : g_send_para)
        b = 0;
}

// The screen configuration card `card` of port `port` holds.
void configureCard(int port, int card, uint32_t configId)
{
    fpgaChip().editNetwork([=](platform::Sim::LedNetwork& n) { n.port(port).cards[size_t(card)].configId = configId; });
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool ready = setUp();
    (void)ready;
    if (size == 0)
        return 0;
    const uint8_t jobs[3] = {2, 5, 6};
    const uint8_t job = jobs[data[0] % 3];
    if (job == 2) {
        FuzzBoard::writeFile("/data/smartmapping/wall.qzfile", data + 1, size - 1);
        g_qzfile_name = QStringLiteral("/data/smartmapping/wall.qzfile");
        line_type[8] = uint8_t(data[0] >> 4 & 3);
    } else {
        FuzzBoard::writeFile("/data/rcvrecovery/QZFX", data + 1, size - 1);
    }
    // A recovery works on the card the last query found: the query runs first in the same input,
    // with the last card of port 2 holding another screen's configuration when bit 6 is set.
    const bool staleCard = job == 6 && (data[0] & 0x40);
    if (staleCard)
        configureCard(1, 3, kScreen + 1);
    if (job == 6)
        runJob(5);
    runJob(job);
    if (staleCard)
        configureCard(1, 3, kScreen);
    FuzzBoard::settle();
    return 0;
}
