#pragma once
// Writers of receiving-card data files as a PC tool lays them out: the packed recovery file
// (header, part table, screen part, XY part, smart-debugging part) and scan files.
#include <QByteArray>
#include <cstdint>
#include <vector>

namespace CardFiles {

struct Op {
    uint8_t type = 1, target = 1;
    uint32_t targetAddr = 0, timeticks = 500;
    QByteArray data;
    int64_t dataLen = -1;  // -1: the data's size
    int64_t offset = -1;   // -1: where the writer puts the data
};
struct Net {
    uint16_t ledx = 0;
    std::vector<std::vector<Op>> cards; // operations of each card
};
struct Screen {
    uint32_t configId = 0;
    std::vector<Net> nets;
    std::vector<Op> para; // smart-debugging operations of the screen
};

inline void put16(QByteArray& b, int at, uint32_t v)
{
    b[at] = char(v);
    b[at + 1] = char(v >> 8);
}
inline void put32(QByteArray& b, int at, uint32_t v)
{
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}
inline QByteArray zeros(int n) { return QByteArray(n, '\0'); }

// Operation records at ops (18 bytes each) with their data appended to block; offsets from base.
inline void writeOps(QByteArray& block, int ops, int base, const std::vector<Op>& list)
{
    for (size_t i = 0; i < list.size(); ++i) {
        const Op& op = list[i];
        const int at = ops + 18 * int(i);
        const uint32_t offset = op.offset >= 0 ? uint32_t(op.offset) : uint32_t(block.size() - base);
        if (op.offset < 0)
            block += op.data;
        put32(block, at, offset);
        put32(block, at + 4, op.dataLen >= 0 ? uint32_t(op.dataLen) : uint32_t(op.data.size()));
        put32(block, at + 8, op.targetAddr);
        put32(block, at + 12, op.timeticks);
        block[at + 16] = char(op.type);
        block[at + 17] = char(op.target);
    }
}

// Parts in the order screen (10), XY (11), smart-debugging (12) unless types says otherwise.
inline QByteArray packedFile(const std::vector<Screen>& screens, std::vector<uint8_t> types = {10, 11, 12})
{
    // XY part: 16-byte head, then each screen's area.
    QByteArray xy = zeros(16);
    std::vector<uint32_t> xyOffset;
    for (const Screen& s : screens) {
        const int a = xy.size();
        xyOffset.push_back(uint32_t(a));
        xy += zeros(4 + 12 * int(s.nets.size()));
        put16(xy, a, uint32_t(s.nets.size()));
        for (size_t n = 0; n < s.nets.size(); ++n) {
            const Net& net = s.nets[n];
            const int b = xy.size();
            const int record = a + 4 + 12 * int(n);
            put16(xy, record, net.ledx);
            put16(xy, record + 2, uint32_t(net.cards.size()));
            put32(xy, record + 4, uint32_t(b - a));
            std::vector<int> opsAt;
            for (const std::vector<Op>& card : net.cards) {
                const int c = xy.size();
                xy += zeros(4 + 18 * int(card.size()));
                put16(xy, c, uint32_t(card.size()));
                opsAt.push_back(c + 4);
            }
            for (size_t c = 0; c < net.cards.size(); ++c)
                writeOps(xy, opsAt[c], b, net.cards[c]);
            put32(xy, record + 8, uint32_t(xy.size() - b));
        }
    }
    // Smart-debugging part: per screen a list.
    QByteArray para;
    std::vector<uint32_t> paraOffset, paraLength;
    for (const Screen& s : screens) {
        const int l = para.size();
        paraOffset.push_back(uint32_t(l));
        if (s.para.empty()) {
            paraLength.push_back(0);
            continue;
        }
        para += zeros(4 + 18 * int(s.para.size()));
        put16(para, l, uint32_t(s.para.size()));
        writeOps(para, l + 4, l, s.para);
        paraLength.push_back(uint32_t(para.size() - l));
    }
    QByteArray screen = zeros(32 + 52 * int(screens.size()));
    screen[20] = char(screens.size());
    for (size_t s = 0; s < screens.size(); ++s) {
        const int r = 32 + 52 * int(s);
        put32(screen, r, screens[s].configId);
        put32(screen, r + 36, paraOffset[s]);
        put32(screen, r + 40, paraLength[s]);
        put32(screen, r + 44, xyOffset[s]);
        put32(screen, r + 48, screens[s].nets.empty() ? 0 : 1);
    }
    QByteArray file = zeros(4 + 12 * int(types.size()));
    file[3] = char(types.size());
    for (size_t k = 0; k < types.size(); ++k) {
        const QByteArray& part = types[k] == 10 ? screen : types[k] == 11 ? xy : para;
        file[4 + 12 * int(k)] = char(types[k]);
        put32(file, 4 + 12 * int(k) + 4, uint32_t(part.size()));
        put32(file, 4 + 12 * int(k) + 8, uint32_t(file.size()));
        file += part;
    }
    return file;
}

inline QByteArray scanFile(const std::vector<Op>& ops)
{
    QByteArray file = zeros(20 + 18 * int(ops.size()));
    put16(file, 16, uint32_t(ops.size()));
    writeOps(file, 20, 16, ops);
    return file;
}

}
