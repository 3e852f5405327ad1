#pragma once
#include "base/global.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>

// Fields of the card job block g_send_para. Each job keeps its own fields; the pages see bytes 0
// (job), 1 (step), 16 (mapping value) and 30-31 (search result).
namespace JobBlock {
constexpr int Job = 0, Step = 1, Port = 2, PacketCount = 3, PacketIndex = 4, Reply = 6, Card = 8, Cards = 10,
              PacketLength = 12, Mapping = 16, Stamp = 20, Screen = 24, SubStep = 28, Result = 30;
// Reply byte: 1 a card answered with status 0, 2 it answered with an error status.
constexpr uint8_t ReplyGood = 1, ReplyBad = 2;
constexpr uint16_t ResultNone = 0xFFFF, ResultAllGood = 0x00FF;
// What a job that did not end well leaves its page to say: bits 0-15 the ports whose cards did not
// answer or refused, or one of these.
constexpr uint32_t kNoCardFound = 1u << 16;        // no card on any port the job serves
constexpr uint32_t kMoreCardsThanCells = 1u << 17; // quick set-up: the port has more cards than the wall cells
constexpr uint32_t kPortBits = 0xFFFF;

inline uint8_t get(int at) { return g_send_para[at].load(); }
// A page may post a job only while neither a job nor a USB upgrade holds the step byte.
inline bool slotTaken() { return get(Job) != 0 || g_usb_grade.load() != 0; }
inline void set(int at, uint8_t v) { g_send_para[at].store(v); }
inline uint16_t get16(int at) { return uint16_t(get(at) | get(at + 1) << 8); }
inline void set16(int at, uint16_t v)
{
    set(at, uint8_t(v));
    set(at + 1, uint8_t(v >> 8));
}
inline uint32_t get32(int at) { return uint32_t(get16(at)) | uint32_t(get16(at + 2)) << 16; }
inline void set32(int at, uint32_t v)
{
    set16(at, uint16_t(v));
    set16(at + 2, uint16_t(v >> 16));
}
}

// Quick set-up record of the smart mapping page: u16 cabinet width, height, horizontal and
// vertical offset, then port, rows, columns and wiring type.
extern std::atomic<uint8_t> line_type[12];
// Scan file chosen on the smart mapping page (absolute path as the box sees it).
extern SharedText g_qzfile_name;

// What the card jobs tell the recovery and smart mapping pages. Emitted from the FPGA worker; a
// page connects to it, so the delivery is queued into the GUI thread and a page closed meanwhile
// receives nothing.
class CardJobReport : public QObject {
    Q_OBJECT
public:
    static CardJobReport* instance();

Q_SIGNALS:
    void smartMappingProgress(int percent); // 100 closes the bar
    void recoveryProgress(int percent);
    void recoveryResult(const QString& line); // replaces the result lines with this one
    void recoveryResultCleared();
    // ok false: a card did not answer, or the file was refused; detail as JobBlock::kNoCardFound.
    void jobFinished(int job, bool ok, uint detail = 0);
};
