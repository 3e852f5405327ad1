#pragma once
#include "params/block_layout.h"
#include "params/tool_records.h"
#include "params/unapplied_bytes.h"

#include <QObject>
#include <atomic>
#include <bitset>
#include <cstdint>
#include <functional>
#include <mutex>
#include <pthread.h>

// Unpacked crop entry.
struct CROP_PARA {
    int32_t id;
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

extern const uint8_t* const default_para_ramlist; // 4096-byte image of a fresh parameter file
extern uint8_t g_cut_source_state[30];             // used-crop bitmap, 40 bits per source 0-5

// The parameter store: live block, shadow, user-mode records and the controller register image.
class VyrRamPara : public QObject {
    Q_OBJECT
public:
    static VyrRamPara* p_vyrrampara_config;
    static VyrRamPara* pInstance();

    // The input drivers write their records (blk::kIteSummary, blk::kInputResolution) under this
    // mutex; every other writer of the block holds the scaler hand-over (ScalerHandOver).
    pthread_mutex_t mutex;
    uint8_t shadow[kBlockSize];
    uint8_t mode[kModeCount][kModeRecordSize];
    uint8_t image[kImageSize];
    std::recursive_mutex records_mutex;  // user-mode records: protocol writes vs. GUI save/delete

    uint16_t u16(uint32_t offset) const;               // block u16, little-endian
    // The block as it stands, tool bytes not yet applied included, for a reader holding the
    // hand-over (and this store's mutex for the input drivers' records).
    const uint8_t* view() const { return block; }
    // Block bytes [offset, offset + n) as they stand between two writes, whoever the writer: copied
    // under the hand-over and then this store's mutex. Neither may be held by the caller.
    void copyBlock(uint8_t* out, uint32_t offset, uint32_t n);
    // The box's own change of block bytes (the panel, the FPGA's echo, single parameters, a recall,
    // a restore; hand-over held): they are what the box applied, whatever a tool wrote there and
    // did not apply. A change of the mode body leaves no mode in use.
    void setBytes(uint32_t offset, const uint8_t* data, uint32_t n);
    void setU8(uint32_t offset, uint8_t value) { setBytes(offset, &value, 1); }
    void setU16(uint32_t offset, uint16_t value);
    // The word at `offset` as the box applied it (hand-over held).
    uint16_t boxWord(uint32_t offset) const;
    uint16_t appliedWord(uint32_t offset); // boxWord, taking the hand-over itself
    // The box's change of the word at `offset` that leaves a tool's write there waiting for its
    // apply (a recall or store word, the FPGA's write-back of the black-screen word it read);
    // hand-over held. Words from kPersistStart on only: below, it writes nothing.
    void setBoxWord(uint32_t offset, uint16_t value);
    // setBoxWord for bytes [offset, offset + n): also the scaler's record of what the chip shows.
    void setBoxBytes(uint32_t offset, const uint8_t* data, uint32_t n);
    // Raw writers, each of one kind, which drop no mode in use: a tool's byte written with the
    // tool's value stays the tool's, one written with another value is the box's again.
    // The input drivers' records, blk::kIteSummary and blk::kInputResolution up to
    // kInputResolutionEnd: only there (this store's mutex held).
    void setInputRecord(uint32_t offset, const uint8_t* data, uint32_t n);
    // A tool's apply (register 11 bit 1): it takes the tool's bytes as they are, and the recall,
    // screen and effect it derives from them with them (hand-over held).
    void applyBytes(uint32_t offset, const uint8_t* data, uint32_t n);
    void applyU16(uint32_t offset, uint16_t value);
    // The scaler worker's values taken back, refused by the chip or not drawn, and its dark windows
    // closed and opened again, each where the block still holds what it judged (hand-over held).
    void scalerBytes(uint32_t offset, const uint8_t* data, uint32_t n);
    void scalerU16(uint32_t offset, uint16_t value);
    // The block as the box applied it, for whatever saves or shows it: the bytes a tool wrote and
    // did not apply put back to the box's (hand-over held; takes this store's mutex).
    void appliedCopy(uint8_t* out);
    void appliedBlock(uint8_t* out); // appliedCopy, taking the hand-over itself
    // A tool's apply took every byte it wrote (hand-over held). False when a recall or store a tool
    // wrote was overwritten by another writer before it: that apply cannot serve it.
    bool toolBytesApplied();

    uint32_t VyrRamParaDeal(const uint8_t* data, uint16_t length, uint32_t offset);
    // A tool's write into a user-mode record: it acts at register 11 bit 2 (saveReplacedModes).
    uint32_t VyrModeUserRamParaDeal(const uint8_t* data, uint16_t length, uint32_t address);
    // Byte i of record m as a tool reads it back: its write waiting for bit 2, else the box's.
    uint8_t recordByte(uint32_t m, uint32_t i);
    int32_t VyrGetImageSource(const uint8_t* buffer, uint8_t window, int16_t* isCrop, int8_t* cropIndex,
                              uint8_t userMode);
    uint32_t VyrGetSourceNum(uint8_t source, int count);
    void VyrCropSourceInit();
    uint32_t VyrGetCropID(uint8_t source, uint32_t n);
    uint32_t VyrAddCropID(uint8_t source);
    void VyrSetImageSource(uint32_t entry, uint8_t source, uint8_t window);
    void VyrGetCropPara(uint8_t source, uint32_t n, CROP_PARA* out, int* index);
    void VyrSetCropPara(uint8_t source, uint32_t n, const CROP_PARA* in);
    int32_t VyrAddNewCrop(uint8_t source, const CROP_PARA* in);
    void VyrDeleteCrop(uint8_t source, uint32_t n);
    void VyrSetEDIDPara(uint8_t input, int16_t width, int16_t height, int16_t rate);
    uint32_t VyrLanguageChanged();
    int32_t VyrUserModeSaved(uint32_t m);
    int32_t VyrUserModeIndex(uint32_t current, uint32_t direction);
    uint32_t VyrGetCurrentModeIndex();
    // The panel's recall of user mode m: its body into the block, m + 1 the current mode and no
    // store asked, handed over; a recall or store request a tool wrote into those words waits for
    // its apply, which serves it. False when m holds no saved mode.
    bool recallMode(uint32_t m);
    // The word at `offset` holds a tool's write waiting for its apply, whatever value the box
    // held there (hand-over held).
    bool toolWrote(uint32_t offset) const
    {
        return unapplied_.toolByte(block, offset) || unapplied_.toolByte(block, offset + 1);
    }
    bool toolAsks(uint32_t word) const { return u16(word) != 0 && toolWrote(word); } // a recall or store
    int test_signal(int code);
    void ram_para_save();

    // Files (parameter file and user modes)
    // Stores `body` (block 0x380-0xFFF as it stood when the store was asked, with `current` the
    // mode then in use) as user mode m: the file first, then the record, then the current mode :=
    // m + 1, handed over, unless another writer changed the body or the current mode since. False
    // when the file was not written: the record and the current mode stay as they were. `filed`,
    // when given, is called once the file is written or has failed.
    bool storeMode(uint32_t m, const uint8_t* body, bool copyMenu, uint16_t current,
                   const std::function<void()>& filed = nullptr);
    bool storeMode(uint32_t m); // the block as it stands now (the panel's store tool)
    uint32_t mode_file_deal(uint32_t m, uint32_t operation);
    // Register 11 bit 2: the records the protocol wrote since become the box's, into their files
    // (saved) or out of them (empty). False when one did not get there: the box keeps the record
    // its file holds, as the next start would load it.
    bool saveReplacedModes();
    // Writes bytes 0x300-0xFFF of `snapshot` (a block copy taken under the scaler mutex) to the
    // parameter file (temporary file, flush, rename); true on success.
    bool para_file_save(const uint8_t* snapshot);
    // The last write of the parameter file failed (until one succeeds). Any thread.
    bool saveFailing() const { return save_failing_.load(); }
    // The settings can be saved: the last write did not fail and the file's place takes one now
    // (not a folder, its folder writable, room for the temporary file). Commands whose save comes
    // later, from the refresh, are answered on it. Any thread.
    bool settingsSavable() const;
    // The block as the box applied it (appliedCopy) to the parameter file, unless the file holds
    // it already; the shadow follows what was saved while no change is pending. True when the file
    // holds it. `snapshot`, when given, gets the block saved. Any thread but one holding the
    // hand-over; two savers write one after the other, the later copy last.
    bool saveApplied(uint8_t* snapshot = nullptr);
    // Start-up: the parameter file into bytes 0x300-0xFFF of the block (the defaults, also written
    // to the file, when it is missing or its markers are wrong). Public as a test face.
    void para_file_load();

    static QString modeFilePath(uint32_t m);     // "/data/modes/custom_mode<m+1>"
    static QString modeMenuFilePath(uint32_t m); // "/data/modes/MO<hh>.json"
    static const char* const kParaFilePath;
    static const char* const kMenuFilePath;      // "/data/configs/omenu.json"

Q_SIGNALS:
    void sig_update_para(int code);

private:
    friend struct StoreFace; // the tests' face (tests/support/store_face.h)
    // Written only through the store's methods, each of one kind (above).
    uint8_t block[kBlockSize];
    VyrRamPara();
    bool para_file_create();
    void rawBytes(uint32_t offset, const uint8_t* data, uint32_t n); // inside the block, else nothing
    bool writeParaFile(const QByteArray& image); // records whether it failed
    std::atomic<bool> save_failing_{false};
    std::mutex save_mutex_; // saveApplied: copy, write and shadow of one save before the next
    // Record m, its bytes from 2 on replaced by `from`[0, n), to its file, then into the record.
    bool writeModeRecord(uint32_t m, const uint8_t* from, uint32_t n, bool copyMenu);
    void copyMenuFile(uint32_t m); // omenu.json -> MOnn.json; caller holds the file mutex
    int findCropEntry(uint8_t source, uint32_t n); // caller holds the scaler mutex
    void rebuildCropBitmap();                      // caller holds the scaler mutex
    ToolRecords tool_records_;                     // records the protocol wrote; under records_mutex
    UnappliedBytes unapplied_;                     // a tool's block writes not yet applied; under the hand-over
    bool requestDropped_ = false;                  // a tool's recall or store overwritten since; idem
    void writeCropRect(uint32_t k, const CROP_PARA* in); // x, y, width, height of crop entry k
};
