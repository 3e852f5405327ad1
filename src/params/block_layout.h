#pragma once
// Layout of the 4096-byte parameter block (byte offsets, the same the control protocol uses), of the
// user-mode records and of the controller register image. Every field of the block is named here;
// grep a name to find every user. u16 fields are little-endian. Add new fields in their section.
#include <cstdint>

// ---- Sizes -------------------------------------------------------------------------------------
constexpr uint32_t kBlockSize = 4096;
constexpr uint32_t kPersistStart = 0x300;                     // 0x000-0x2FF volatile, 0x300-0xFFF saved
constexpr uint32_t kPersistSize = kBlockSize - kPersistStart; // 3328
constexpr uint32_t kModeCount = 16;
constexpr uint32_t kModeRecordSize = 4098;                    // 2 marker bytes + 4096-byte body
constexpr uint32_t kModeBodyStart = 0x380;                    // body offset = block offset - 0x380
constexpr uint32_t kModeDataSize = kBlockSize - kModeBodyStart; // 3200 meaningful body bytes
constexpr uint32_t kModeFileSize = 4096;                      // markers + body bytes 0-4093
constexpr uint32_t kImageSize = 1064;                         // controller register image
constexpr uint32_t kCropBase = 0x5C0;                         // crop entry k at 0x5C0 + 10k
constexpr uint32_t kCropCount = 40;                           // entries in use (0-39)
constexpr uint32_t kWindowBase = 0x8E0;                       // window record w at 0x8E0 + 26w
constexpr uint32_t kWindowSize = 26;

namespace blk {

// ---- Inputs (volatile) -------------------------------------------------------------------------
constexpr uint32_t kInputResolution = 0x100;    // 6 bytes per input 0-5: width, height u16, rate u8, 0
constexpr uint32_t kInputResolutionSize = 6;
constexpr uint32_t kInputResolutionEnd = 0x124; // end of the six records (store mutex guards them)
constexpr uint32_t inputResolution(uint32_t i) { return kInputResolution + kInputResolutionSize * i; }
constexpr uint32_t kInputWidth = 0;             // fields within one record
constexpr uint32_t kInputHeight = 2;
constexpr uint32_t kInputRate = 4;
constexpr uint32_t kIteSummary = 0x000;          // 3 bytes per iTE6805 device 0-1: width low byte,
constexpr uint32_t iteSummary(uint32_t dev) { return kIteSummary + 3 * dev; } // height low byte, rate

// ---- Store and panel ---------------------------------------------------------------------------
constexpr uint32_t kLanguage = 0x300;        // u8 UI language 0-4; compared as the u16 0x300-0x301
constexpr uint32_t kUnknown302 = 0x302;      // u8, 100 in the defaults; meaning not known
constexpr uint32_t kKeyLock = 0x304;         // u8 front-panel key lock (1 = locked)
constexpr uint32_t kWifiOff = 0x306;         // u8 access point off when non-zero
constexpr uint32_t kTestPattern = 0x360;     // u8 0 off, 1-8 pattern; 0x360-0x363 cleared at start
constexpr uint32_t kCurrentMode = 0x362;     // u16 current user mode 1-16, 0 = none; cleared at start
constexpr uint32_t kSaveModeRequest = 0x364; // u16 save-to-user-mode request 1-16; 0x365 cleared at start
constexpr uint32_t kStartClearEnd = 0x364;   // end of the bytes 0x360.. cleared at every start
constexpr uint32_t kAudioWindow = 0x840;     // u8 window whose audio is on (0-5); 0x841 written 0
constexpr uint32_t kAudioState = 0x841;      // u8 audio state
constexpr uint32_t kPointToPoint = 0x842;    // u8 point-to-point switch
constexpr uint32_t kSwitchEffect = 0x846;    // u8 switch effect: 0 seamless, 1 fade
constexpr uint32_t kOsdMenu = 0x84C;         // u16 on-screen menu on; 1 = user-mode saves copy omenu.json
constexpr uint32_t kUnknown8DE = 0x8DE;      // u16, 1 in the defaults; meaning not known

// ---- Input EDID timings (persistent, 0x380-0x55F is the EDID area) -----------------------------
constexpr uint32_t kEdidTiming = 0x380;      // 3 x u16 per input 0-5: width, height, refresh rate
constexpr uint32_t kEdidTimingSize = 6;
constexpr uint32_t kEdidAreaEnd = 0x560;
constexpr uint32_t edidWidth(uint32_t i) { return kEdidTiming + kEdidTimingSize * i; }
constexpr uint32_t edidHeight(uint32_t i) { return edidWidth(i) + 2; }
constexpr uint32_t edidRate(uint32_t i) { return edidWidth(i) + 4; }

// ---- LED screen and output channels ------------------------------------------------------------
constexpr uint32_t kSpliceMode = 0x560;      // u16 splice mode (mod 6), 0 none
constexpr uint32_t kLedWidth = 0x562;        // u16 LED screen width
constexpr uint32_t kLedHeight = 0x564;       // u16 LED screen height
constexpr uint32_t kCanvasX = 0x566;         // u16 x offset of the canvas, written by the scaler, read by the FPGA
constexpr uint32_t kCanvasY = 0x568;         // u16 y offset of the canvas
constexpr uint32_t kChannelsH = 0x56A;       // u8 horizontal output-channel count for the FPGA; 0x56B = 0
constexpr uint32_t kChannelsV = 0x56C;       // u8 vertical output-channel count for the FPGA; 0x56D = 0
constexpr uint32_t kChannelWidth = 0x56E;    // u16 output-channel width
constexpr uint32_t kChannelHeight = 0x570;   // u16 output-channel height
constexpr uint32_t kChannelBandwidth = 0x572; // u16 channel bandwidth mode (0)
constexpr uint32_t kLayoutEnd = 0x574;       // end of the layout published for the FPGA (0x566-0x573)
constexpr uint32_t kOutput1X = 0x580;        // u16 output 1 rectangle x
constexpr uint32_t kOutput1Y = 0x582;        // u16 output 1 rectangle y
constexpr uint32_t kOutput1Width = 0x584;    // u16 output 1 width (split point); LED width second copy
constexpr uint32_t kOutput1Height = 0x586;   // u16 output 1 height; LED height second copy
constexpr uint32_t kOutput2X = 0x588;        // u16 output 2 rectangle x
constexpr uint32_t kOutput2Y = 0x58A;        // u16 output 2 rectangle y
constexpr uint32_t kOutput2Width = 0x58C;    // u16 output 2 width; LED width third copy
constexpr uint32_t kOutput2Height = 0x58E;   // u16 output 2 height; LED height third copy
constexpr uint32_t kBlackScreen = 0x844;     // u16 1 = the FPGA blanks the LED output; cleared at start

// ---- Picture -----------------------------------------------------------------------------------
constexpr uint32_t kBrightness = 0x880;      // u16 0-100
constexpr uint32_t kContrast = 0x882;        // u16 0-100
constexpr uint32_t kSharpness = 0x884;       // u16 0-100
constexpr uint32_t kSaturation = 0x886;      // u16 0-100
constexpr uint32_t kColourTemp = 0x888;      // u16 0 custom, 1 warm, 2 nature, 3 cool
constexpr uint32_t kColourRed = 0x88A;       // u16 custom red gain
constexpr uint32_t kColourGreen = 0x88C;     // u16 custom green gain
constexpr uint32_t kColourBlue = 0x88E;      // u16 custom blue gain
constexpr uint32_t kPictureEnd = 0x890;      // end of the picture fields (reset as one range)

// ---- Windows -----------------------------------------------------------------------------------
constexpr uint32_t kWindows = 16;            // records in the block; the scaler uses windows 0-5
constexpr uint32_t kScalerWindows = 6;
constexpr uint32_t kLayerPriority = 0x8A0;   // u16 per window w: layer priority
constexpr uint32_t layerPriority(uint32_t w) { return kLayerPriority + 2 * w; }
constexpr uint32_t kFade = 0xB00;            // 4 bytes per window: fade-in u16, fade-out u16
constexpr uint32_t fadeIn(uint32_t w) { return kFade + 4 * w; }   // steps (output frames)
constexpr uint32_t fadeOut(uint32_t w) { return kFade + 4 * w + 2; }
constexpr uint16_t kFadeMaxSteps = 255;      // the longest fade the scaler runs
constexpr uint16_t kFadeStartSteps = 60;     // what a longer stored one starts as

// Fields within a window record.
namespace win {
constexpr uint32_t kState = 0;         // u16 1 = shown
constexpr uint32_t kMirror = 4;        // u16 mirror
constexpr uint32_t kSource = 8;        // u16 source word (kSourceCrop: low byte = crop index, else input 0-5)
constexpr uint32_t kX = 10;            // u16 x on the output canvas
constexpr uint32_t kY = 12;            // u16 y
constexpr uint32_t kWidth = 14;        // u16 width
constexpr uint32_t kHeight = 16;       // u16 height
constexpr uint32_t kOutput = 18;       // u16 output word (kOut* bits)
constexpr uint32_t kPointToPoint = 19; // u8 = high byte of the output word; bit 0 dot-by-dot enable
constexpr uint32_t kAudio = 20;        // u8 audio (255 on, 0 off)
constexpr uint32_t kAudioHigh = 21;    // u8 audio (bit 7 on)
constexpr uint32_t kDotByDot = 22;     // u16 dot-by-dot (stitching) mode
constexpr uint16_t kSourceCrop = 0x8000;  // source word: low byte is a crop index
constexpr uint16_t kOutBlack = 1u << 0;
constexpr uint16_t kOutFreeze = 1u << 1;
constexpr uint16_t kOutEffect = 1u << 2;
constexpr uint16_t kOutDotByDot = 1u << 8;
}
constexpr uint32_t windowRecord(uint32_t w) { return kWindowBase + kWindowSize * w; }
constexpr uint32_t window(uint32_t w, uint32_t field) { return windowRecord(w) + field; }

// ---- Crops -------------------------------------------------------------------------------------
constexpr uint32_t kCropEntrySize = 10;
constexpr uint32_t kCropSlots = 64;          // slots filled by the defaults (up to 0x83F)
namespace crop {
constexpr uint32_t kId = 0;                  // u16 id word: bit 15 in use, bits 8-14 number - 1, bits 0-7 source
constexpr uint32_t kX = 2;                   // u16 x, y, width, height in the source's pixels
constexpr uint32_t kY = 4;
constexpr uint32_t kWidth = 6;
constexpr uint32_t kHeight = 8;
constexpr uint16_t kInUse = 0x8000;
constexpr uint16_t kUnusedDefault = 0x0002;  // id word of an unused default slot
constexpr bool used(uint16_t id) { return (id & kInUse) != 0; }
constexpr uint8_t source(uint16_t id) { return uint8_t(id & 0xFF); }
constexpr uint32_t number(uint16_t id) { return ((id >> 8) & 0x7F) + 1u; } // 1-based
constexpr uint16_t idWord(uint8_t source, uint32_t number)
{
    return uint16_t(kInUse | ((number - 1) & 0x7F) << 8 | source);
}
}
constexpr uint32_t cropEntry(uint32_t k) { return kCropBase + kCropEntrySize * k; }
constexpr uint32_t cropField(uint32_t k, uint32_t field) { return cropEntry(k) + field; }

// ---- User-mode records -------------------------------------------------------------------------
// Record byte of a block field (markers at 0-1, body from 2); the field must be at or above 0x380.
constexpr uint32_t inRecord(uint32_t blockOffset) { return 2 + blockOffset - kModeBodyStart; }
constexpr uint8_t kMarkerSaved = 0xAA;       // both marker bytes: saved
constexpr uint8_t kMarkerEmpty = 0xFF;       // both marker bytes: empty

// ---- Field access over a block (or any buffer laid out like it) --------------------------------
inline uint16_t get16(const uint8_t* block, uint32_t offset)
{
    return uint16_t(block[offset] | (block[offset + 1] << 8));
}
inline void put16(uint8_t* block, uint32_t offset, uint16_t value)
{
    block[offset] = uint8_t(value);
    block[offset + 1] = uint8_t(value >> 8);
}
// A window is on the wall while its state word is not 0: every reader takes it as the scaler does.
inline bool windowShown(const uint8_t* block, uint32_t w) { return get16(block, window(w, win::kState)) != 0; }
// The window whose audio is on; a byte naming no scaler window means window 0.
inline uint32_t audioWindow(const uint8_t* block)
{
    const uint32_t w = block[kAudioWindow];
    return w < kScalerWindows ? w : 0;
}

} // namespace blk

// ---- Controller register image (image offsets) -------------------------------------------------
namespace regimage {
constexpr uint32_t kRegisters = 0x000;    // controller register n as last written (n below 32)
constexpr uint32_t kInputReinit = 0x020;  // register 160: input re-initialisation request bits
constexpr uint32_t kSyncTest = 0x021;     // register 165: sync-test request bits
constexpr uint32_t kScalerDiag = 0x022;   // register 162: scaler diagnostic request bits
constexpr uint32_t kDumpParam = 0x023;    // register 163: value + 1 (parameter dump request)
constexpr uint32_t kDumpGroup = 0x024;    // register 164: register-group dump request bit
constexpr uint32_t kChipPresence = 0x025; // chip presence bits (0x80 at start)
constexpr uint32_t kEdidStatus = 0x026;   // EDID and bus status bits (0x1F at start)
constexpr uint32_t kClockStatus = 0x027;  // clock and transmitter status bits (0x07 at start)
constexpr uint32_t kFontPresence = 0x02B; // on-screen font presence bits
constexpr uint32_t kStatusEnd = 0x425;    // 0x025 up to here is cleared at start
}
