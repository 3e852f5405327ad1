// The on-screen menu file ("/data/configs/omenu.json", uploaded by the PC tool): parsed, and its
// first item programmed into the scaler's OSD on the simulated board. An input that holds no menu
// is shown as the text of one, so that the UTF-8 decoder also meets the byte sequences the JSON
// reader refuses (stray and cut-short ones). The text the scaler then holds is checked against
// the item's, read by the rules of UTF-8 (RFC 3629): one line per "\n" up to 64, each at most 127
// characters and zero-ended in its 128-character buffer, no line beyond them; each well-formed
// character shown as itself (one beyond 16 bits as U+FFFF, which draws blank; U+0000 ends the
// line), each run of n bytes that form no character (a surrogate, an overlong form, past
// U+10FFFF, a stray or cut-short sequence) as 1 to n U+FFFD.
#include "fuzz_board.h"

#include "params/omenu_file.h"
#include "scaler/c331_osd_menu.h"
#include "params/vyrrampara.h"
#include "scaler/c331_manage.h"

#include <QList>
#include <algorithm>
#include <vector>

namespace {
constexpr int kLines = 64, kChars = 128;
constexpr uint32_t kReplacement = 0xFFFD, kNoGlyph = 0xFFFF;

void fail(int line, const char* what)
{
    FuzzBoard::fail("OSD line %d: %s", line, what);
}

// One character of RFC 3629's grammar at the start of p: its length and code, or good false
// with the length of the bytes that begin no character (the longest start of one, at least 1).
struct Character {
    bool good;
    uint32_t code;
    size_t length;
};
Character next(const uint8_t* p, size_t n)
{
    const uint8_t c = p[0];
    if (c < 0x80)
        return {true, c, 1};
    size_t tail;
    uint8_t low = 0x80, high = 0xBF; // of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        tail = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
        tail = 2;
        low = c == 0xE0 ? 0xA0 : 0x80; // no overlong form
        high = c == 0xED ? 0x9F : 0xBF; // no surrogate
    } else if (c >= 0xF0 && c <= 0xF4) {
        tail = 3;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF; // nothing past U+10FFFF
    } else {
        return {false, 0, 1};
    }
    uint32_t code = c & (0x3Fu >> tail);
    for (size_t k = 1; k <= tail; ++k) {
        const bool fits = k < n && (k == 1 ? p[k] >= low && p[k] <= high : p[k] >= 0x80 && p[k] <= 0xBF);
        if (!fits)
            return {false, 0, k};
        code = code << 6 | (p[k] & 0x3F);
    }
    return {true, code, tail + 1};
}

// What one line may show: characters in turn, each a code shown as such or a run of U+FFFD of
// `fewest` to `most` characters. Bytes that form no character give at least one U+FFFD for each
// unbroken run of them and at most one for each byte; U+FFFD written as such gives one.
struct Shown {
    uint32_t code;
    size_t fewest, most;
};
std::vector<Shown> expected(const QByteArray& line)
{
    std::vector<Shown> out;
    bool afterBad = false;
    const auto* p = reinterpret_cast<const uint8_t*>(line.constData());
    for (size_t i = 0, n = size_t(line.size()); i < n;) {
        const Character ch = next(p + i, n - i);
        i += ch.length;
        if (ch.good && ch.code != kReplacement) {
            out.push_back({std::min(ch.code, kNoGlyph), 1, 1});
            afterBad = false;
            continue;
        }
        if (out.empty() || out.back().code != kReplacement)
            out.push_back({kReplacement, 0, 0});
        out.back().fewest += ch.good || !afterBad ? 1 : 0;
        out.back().most += ch.good ? 1 : ch.length;
        afterBad = !ch.good;
    }
    return out;
}

void checkLine(int n, const uint8_t* shown, int length, const QByteArray& line)
{
    auto at = [shown](int i) { return uint32_t(shown[2 * i] << 8 | shown[2 * i + 1]); };
    const bool cut = length == kChars - 1; // the rest of a longer line is not shown
    int i = 0;
    for (const Shown& s : expected(line)) {
        if (s.code == 0)
            break; // the line ends there for the scaler
        if (i == length) {
            if (cut)
                return;
            fail(n, "shown shorter than its text");
        }
        if (s.code != kReplacement) {
            if (at(i) != s.code)
                fail(n, "a character shown as another");
            ++i;
            continue;
        }
        size_t run = 0;
        while (i < length && at(i) == kReplacement) {
            ++i;
            ++run;
        }
        if (run > s.most || (run < s.fewest && !(cut && i == length)))
            fail(n, "bytes that form no character shown otherwise than as U+FFFD, one to a byte");
    }
    if (i != length)
        fail(n, "shown longer than its text");
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
        checkLine(n, shown, length, lines[n]);
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
    if (list.osdcount <= 0) {
        list.osdcount = 1;
        list.menu[0] = OMENU_PARA();
        list.menu[0].texts.assign(reinterpret_cast<const char*>(data), size);
    }
    set_OSD_para(list, *scaler, 1920, 1080);
    checkShown(*scaler, list.menu[0].texts);
    FuzzBoard::settle();
    return 0;
}
