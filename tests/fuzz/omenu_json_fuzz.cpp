// The on-screen menu file ("/data/configs/omenu.json", uploaded by the PC tool): parsed, and its
// first item programmed into the scaler's OSD on the simulated board. The text the scaler then
// holds is checked against the item's: one line per "\n" up to 64, each at most 127 characters and
// zero-ended in its 128-character buffer, no line beyond them, and a line of plain ASCII shown as
// its first 127 characters.
#include "fuzz_board.h"

#include "params/omenu_file.h"
#include "scaler/c331_osd_menu.h"
#include "params/vyrrampara.h"
#include "scaler/c331_manage.h"

#include <QList>
#include <algorithm>

namespace {
constexpr int kLines = 64, kChars = 128;

void fail(int line, const char* what)
{
    FuzzBoard::fail("OSD line %d: %s", line, what);
}

void checkShown(const c331_manage& scaler, const std::string& text)
{
    const QList<QByteArray> lines = QByteArray::fromStdString(text).split('\n');
    const int count = std::min<int>(lines.size(), kLines);
    if (scaler.g_unicode_line != count)
        fail(count, "the scaler holds another number of lines");
    for (int n = 0; n < kLines; ++n) {
        const uint8_t* shown = scaler.osd_text[n];
        int length = 0;
        while (length < kChars && (shown[2 * length] | shown[2 * length + 1]))
            ++length;
        if (length == kChars)
            fail(n, "not zero-ended within its buffer");
        if (n >= count) {
            if (length != 0)
                fail(n, "shown beyond the text's lines");
            continue;
        }
        const QByteArray& line = lines[n];
        bool ascii = true;
        for (char c : line)
            ascii = ascii && c > 0;
        if (!ascii)
            continue;
        if (length != std::min<int>(line.size(), kChars - 1))
            fail(n, "an ASCII line shown at another length");
        for (int i = 0; i < length; ++i)
            if (shown[2 * i] != 0 || shown[2 * i + 1] != uint8_t(line[i]))
                fail(n, "an ASCII line shown with other characters");
    }
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzBoard::start();
    static c331_manage* scaler = [] {
        VyrRamPara::pInstance();
        return c331_manage::instanceWithoutWorker();
    }();
    FuzzBoard::writeFile(VyrRamPara::kMenuFilePath, data, size);
    OSD_LIST list;
    get_json_omenu_para(VyrRamPara::kMenuFilePath, &list);
    if (list.osdcount > 0) {
        set_OSD_para(list, *scaler, 1920, 1080);
        checkShown(*scaler, list.menu[0].texts);
    }
    FuzzBoard::settle();
    return 0;
}
