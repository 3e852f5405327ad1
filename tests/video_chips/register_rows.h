#pragma once
// Register tables written out as the chip makers list them, and their comparison with an emulated
// chip's ordered write log.
#include "platform/sim/devices/register_chip.h"

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace register_rows {

using Write = platform::Sim::RegisterChip::Write;

// One write: register, mask (bits the row sets), value; bank -1 = whichever bank is selected.
struct Row {
    int bank;
    uint8_t reg, mask, value;
};

// "RR/MM/VV ..." (the selected bank) or "B:RR/MM/VV ...", hexadecimal.
inline std::vector<Row> parse(const std::string& text)
{
    std::vector<Row> rows;
    std::istringstream in(text);
    std::string item;
    while (in >> item) {
        int bank = -1;
        unsigned r = 0, m = 0, v = 0;
        if (std::sscanf(item.c_str(), "%d:%x/%x/%x", &bank, &r, &m, &v) != 4) {
            bank = -1;
            std::sscanf(item.c_str(), "%x/%x/%x", &r, &m, &v);
        }
        rows.push_back({bank, uint8_t(r), uint8_t(m), uint8_t(v)});
    }
    return rows;
}

inline std::string show(const Row& r)
{
    char b[32];
    std::snprintf(b, sizeof b, "%d:%02X/%02X/%02X", r.bank, r.reg, r.mask, r.value);
    return b;
}

inline bool matches(const Write& w, const Row& r)
{
    return (r.bank < 0 || w.bank == r.bank) && w.address == r.reg && (w.value & r.mask) == (r.value & r.mask);
}

// "" when the log, from its first write, holds the rows one write each and in order; else the
// first row that differs. Rows with banks are compared with the log's bank-register writes left
// out (the bank is then part of each row).
inline std::string firstMismatch(std::vector<Write> log, const std::vector<Row>& rows)
{
    if (!rows.empty() && rows.front().bank >= 0) {
        std::vector<Write> kept;
        for (const Write& w : log)
            if (w.bank >= 0)
                kept.push_back(w);
        log.swap(kept);
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i >= log.size())
            return "row " + std::to_string(i) + " " + show(rows[i]) + ": no more writes";
        if (!matches(log[i], rows[i]))
            return "row " + std::to_string(i) + " " + show(rows[i]) + ": written " +
                   show({log[i].bank, log[i].address, 0xFF, log[i].value});
    }
    return "";
}

// "" when the rows appear in the log in their order, other writes between them allowed.
inline std::string missingInOrder(const std::vector<Write>& log, const std::vector<Row>& rows)
{
    size_t at = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        while (at < log.size() && !matches(log[at], rows[i]))
            ++at;
        if (at == log.size())
            return "row " + std::to_string(i) + " " + show(rows[i]) + " not written in order";
        ++at;
    }
    return "";
}

}
