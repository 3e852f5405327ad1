#pragma once
#include <QString>
#include <QStringList>
#include <cstdint>
#include <mutex>
#include <vector>

// Reader of the receiving-card files: the packed recovery file "/data/rcvrecovery/QZFX" and the
// scan files ("*.qzfile" in "/data/smartmapping" or on the stick). One instance, owned by the FPGA
// manager; the worker reads one record per call and then the fields below.
//
// Every read returns 0 when the record was read whole, 1 otherwise (file missing, unreadable, or
// the record not inside the file); on 1 the fields keep their previous contents. The files come
// from a PC or a USB stick: offsets and counts are checked against the file before any use.
class rcvRecovery {
public:
    static constexpr int kEntries = 6; // part-table entries kept
    struct PartEntry {
        uint8_t file_type = 0;
        uint32_t length = 0, offset = 0;
    };
    struct ScreenHead {
        uint8_t type = 0, screen_num = 0;
        uint32_t rcv_para_len = 0, rcv_para_crc32 = 0, rcv_xy_len = 0, rcv_xy_crc32 = 0;
    };
    struct ScreenRecord {
        uint32_t config_id = 0, net_use = 0;
        uint32_t rcv_para_offset = 0, rcv_para_len = 0, rcv_xy_offset = 0, rcv_xy_len = 0;
    };
    struct NetRecord {
        uint16_t net_ledx = 0, net_rcv_num = 0;
        uint32_t net_para_offset = 0, net_para_len = 0;
    };
    // An operation record (18 bytes): data offset, data length, card address, the time in ms the
    // cards are given (the answer wait, or the length of a pause), type and card memory. A step
    // may ask for up to kMaxStepMs (a save adds 1000 ms for each card of the port by itself), a
    // whole job for up to kMaxJobMs over all its lists, one try of each packet counted; a file
    // asking for more is refused before anything of it is sent.
    struct Operation {
        uint32_t offset = 0, dataLen = 0, targetAddr = 0, timeticks = 0;
        uint8_t type = 0, target = 0;
    };
    static constexpr uint32_t kMaxStepMs = 60 * 1000;
    static constexpr uint64_t kMaxJobMs = 10 * 60 * 1000;
    // Where record i of the operation list at `list` lies in the file.
    static uint64_t operation_position(uint64_t list, uint32_t i);

    // A RAM write goes in packets of 1000 bytes whose count is kept in one byte.
    static constexpr uint32_t kRamPacket = 1000, kRamPackets = 255;

    rcvRecovery() = default;

    int check_file_dir(const QString& path); // 1 created, 0 already there or not creatable
    void init_para();                        // clears the current screen's para and XY fields
    int get_dir_file(const QString& path);   // 1 folder missing, else 0 (listing replaced)
    QStringList recovery_files() const;      // copies, safe from any thread
    QStringList scan_files() const;

    int get_rcvPackedFileNum(const QString& path);
    int get_rcvPackedFileInfo(const QString& path, uint8_t k);
    int update_rcvScreenHead(const QString& path);
    int update_rcvScreenIDinfo(const QString& path, uint8_t s);
    int update_rcvXYHead(const QString& path);
    int update_rcvXYscreenNetnum(const QString& path);
    int update_rcvXYscreenNetpara(const QString& path, uint16_t n);
    int update_rcvXYrcvOperateTimes(const QString& path, uint16_t c, bool standalone);
    int update_rcvXYrcvOperatepara(const QString& path, uint16_t i, bool standalone);
    int update_rcvOperatedata(const QString& path, uint32_t position, uint8_t* out, uint16_t length);
    int update_smartDebugingHead(const QString& path);
    int update_smartDebugingOperateTimes(const QString& path, bool standalone);
    int update_smartDebugingOperatepara(const QString& path, uint16_t i, bool standalone);
    // The operation list at a position (u16 count, 2 bytes, the 18-byte records), read in one go;
    // 1 when the file does not hold it whole.
    int read_operation_list(const QString& path, uint64_t list, std::vector<Operation>& out);
    // The file holds length bytes at position.
    bool holds(const QString& path, uint64_t position, uint64_t length);
    // The data of an operation fits what it is sent in: one card command, or kRamPackets
    // within the card's 32-bit addresses.
    static bool operation_fits(const Operation& op);
    // Where the lists of the current card and of the current screen's (or scan file's) start; the
    // card's operations count their data from the net's card block.
    uint64_t card_block_position() const;
    uint64_t card_list_position() const;
    uint64_t debug_list_position(bool standalone) const;

    // Start of the last kept part of a type; 0 when there is none.
    uint32_t part_offset(uint8_t type) const;
    bool has_part(uint8_t type) const;
    uint8_t part_count() const; // N of the file, as read
    uint8_t kept_parts() const; // entries kept of it

    uint8_t packed_head[4] = {};
    PartEntry part[kEntries];
    QString path;
    uint32_t data_position = 0; // absolute position of the current operation's data
    ScreenHead screen_head;
    ScreenRecord screen;
    NetRecord net;
    Operation operation;
    uint8_t scan_head[16] = {};
    uint8_t xy_head[16] = {};
    uint16_t net_count = 0;
    uint32_t card_offset = 0;   // of the current card record, from the net's card block
    uint16_t operate_times = 0; // operations of the current card or list

private:
    // Reads n bytes at position into out under the file mutex; 1 unless all of them are there.
    int readAt(const QString& file, uint64_t position, void* out, uint32_t n);
    mutable std::mutex listMutex_;
    QStringList recoveryList_, scanList_;
};
