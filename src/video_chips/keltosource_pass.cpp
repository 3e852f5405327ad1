// The running pass of the input polling thread: clock synthesiser, custom EDIDs, path and hot-plug
// requests, audio selection, SDI reset and one step of every enabled receiver.
#include "video_chips/keltosource.h"

#include "base/delay.h"
#include "base/global.h"
#include "base/logMsg.h"
#include "base/utils.h"
#include "fpga/fpga_manage.h"
#include "params/block_layout.h"
#include "params/vyrrampara.h"
#include "video_chips/drv_i2c.h"
#include "video_chips/iTE6805_SYS.h"
#include "video_chips/keltosource_status.h"
#include "video_chips/sdi_it66121.h"

#include <QMutexLocker>
#include <string>

namespace st = keltosource_status;

namespace {
constexpr uint8_t kChannel[6] = {0x01, 0x02, 0x04, 0x08, 0x20, 0x10};
constexpr uint8_t kAudioBit[6] = {0x80, 0x40, 0x20, 0x10, 0x04, 0x08};
constexpr uint8_t ClockChannel = 0x80;
constexpr uint32_t SdiResetTicks = 15;
constexpr uint8_t SdiTestLimit = 10;
constexpr uint32_t IdentifyRetryTicks = 100;
constexpr uint32_t HotPlugLowTicks = 12; // 10 ms ticks: the line stays low 130-140 ms
}

uint8_t keltosource::audioBitOf(int input)
{
    return input >= 0 && input < Inputs ? kAudioBit[input] : 0;
}

uint8_t keltosource::audioBitsFromBlock(const uint8_t* block)
{
    const uint32_t w = blk::audioWindow(block); // only windows 0-5 have records the scaler uses
    if (!(block[blk::window(w, blk::win::kAudioHigh)] & 0x80))
        return 0;
    const uint16_t source = blk::get16(block, blk::window(w, blk::win::kSource));
    if (!(source & blk::win::kSourceCrop))
        return audioBitOf(source);
    const uint32_t entry = source & 0xFF;
    if (entry >= blk::kCropSlots)
        return 0;
    return audioBitOf(block[blk::cropEntry(entry)] & 0x0F);
}

void keltosource::runningPass()
{
    // 1. Clock synthesiser behind channel 0x80 of switch 0xE0.
    if (selectEdidChannel(ClockChannel)) {
        st::set(st::EdidStatus, 0x20, true);
        if (!clock_done[0]) {
            Delay::us(100);
            s5p210_setup(0);
        }
    } else {
        st::set(st::EdidStatus, 0x20, false);
        if (!clock_done[0])
            logClockFailure("switch 0xE0 does not answer");
    }

    writeCustomEdids();
    fpga_manage::gpio_write(fpga_manage::edid_wp, 16);
    serveInputReinit();
    serveAudio();
    serveSdiReset();
    sourcecheck();
}

// 2. Custom EDIDs: the written flag means the EEPROM holds the table and was read back equal.
void keltosource::writeCustomEdids()
{
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    for (int input = 0; input < Inputs; ++input) {
        if (custom_edid_req[input] != 1)
            continue;
        bool touched = false, failed = false;
        const EdidRecord asked = recordOf(input); // under the block's locks, not inside the shell's
        {
            QMutexLocker lock(&Utils::_system_mutex);
            if (custom_edid_written[input] != 0)
                continue;
            const edid::Table before = tables_[input];
            if (store && !Set_Custom_HDMI_EDID(asked.width, asked.height, asked.rate, input)) {
                // Refused (logged with the reason): nothing reaches the wire, and the receiver is
                // not restarted, so a live picture stays.
                custom_edid_req[input] = 0;
                continue;
            }
            touched = true;
            fpga_manage::gpio_write(fpga_manage::edid_wp, 0);
            setExpander(uint8_t(audio_bits & ~1u));
            const bool selected = selectEdidChannel(kChannel[input]);
            if (selected && i2c->eeprom_write(fd_, tables_[input].data()) == 1) {
                held_[input] = tables_[input];
                heldRecord_[input] = asked;
                custom_edid_written[input] = 1;
                setEdidGood(input, true);
            } else {
                // A write cut part-way leaves old and new pages mixed: the previous table goes
                // back, and the request is given up rather than retried on every pass. The
                // receiver keeps its EDID; the bit says whether the part now reads valid.
                tables_[input] = before;
                const bool good = selected && putHeldEdidBack(input);
                writeLogMsg(LOG_ERROR, "keltosource: custom EDID of input " + std::to_string(input) +
                                           " not written (no acknowledge or read-back differs); " +
                                           (good ? "previous EDID put back" : "no valid EDID left"));
                setEdidGood(input, good);
                custom_edid_req[input] = 0;
                custom_edid_written[input] = 0;
                failed = true;
            }
        }
        if (touched) {
            write_protect = 1;
            setExpander(uint8_t(audio_bits | 1));
        }
        if (failed)
            putRecordBack(input, asked);
    }
}

// 4. Register 160: hot-plug lines and the iTE6805 path word.
void keltosource::serveInputReinit()
{
    const uint8_t bits = st::take(regimage::kInputReinit);
    if (!bits)
        return;
    applyHotPlugBits(bits);
    applyPathBits(bits);
}

// Request bits 0-3: 0x01 and 0x04 hold the iTE6805 path, 0x02 and 0x08 release it, in that order.
void keltosource::applyPathBits(uint8_t bits)
{
    for (uint8_t bit = 0x01; bit <= 0x08; bit = uint8_t(bit << 1))
        if (bits & bit)
            fpga_manage::gpio_write(fpga_manage::ite6805_path, (bit & 0x0A) ? 16 : 0);
}

// Request bits 4-7: hot-plug lines of the iTE6805 devices, 0x10/0x20 drop/raise device 1's, 0x40/0x80
// device 0's; each call selects the device's own channel of switch 0xEE.
void keltosource::applyHotPlugBits(uint8_t bits)
{
    if (bits & 0x10)
        ite6805->iTE6805_Set_HPD_Ctrl(0, 0, 1);
    if (bits & 0x20)
        ite6805->iTE6805_Set_HPD_Ctrl(0, 1, 1);
    if (bits & 0x40)
        ite6805->iTE6805_Set_HPD_Ctrl(0, 0, 0);
    if (bits & 0x80)
        ite6805->iTE6805_Set_HPD_Ctrl(0, 1, 0);
}

// 5. Audio source bits of the expander; a refused write is tried again on the next pass.
void keltosource::serveAudio()
{
    if (audio_sel_req != 1)
        return;
    // The words a recall or a tool writes under the hand-over: copied under it, as the box applied them.
    VyrRamPara* store = VyrRamPara::p_vyrrampara_config;
    uint8_t block[kBlockSize] = {};
    if (store)
        store->appliedBlock(block);
    audio_bits = store ? audioBitsFromBlock(block) : 0;
    if (i2c->i2c_write(fd_, 0x40, uint8_t(audio_bits | write_protect), nullptr, 0) == 1) {
        QMutexLocker lock(&Utils::_system_mutex);
        audio_sel_req = 0;
    }
}

// 6. SDI receiver reset: low, then high more than 15 ticks later.
void keltosource::serveSdiReset()
{
    if (sdi_reset_req != 1)
        return;
    if (sdi_reset_step == 0) {
        fpga_manage::gpio_write(fpga_manage::sdi_rst, 0);
        sdi_reset_step = 1;
        sdi_reset_stamp = G_timeTicks;
    } else if (Utils::getTimeSpace(sdi_reset_stamp) > SdiResetTicks) {
        fpga_manage::gpio_write(fpga_manage::sdi_rst, 1);
        sdi_reset_step = 0;
        sdi_reset_req = 0;
    }
}

// 7. One step of every enabled receiver.
void keltosource::sourcecheck()
{
    for (int input = 0; input < Inputs; ++input) {
        if (!(input_mask & kChannel[input]))
            continue;
        // No pause after the switch write: the next transfer's address phase alone outlasts the
        // switch's settling, and a sleep here would cost a context switch per input per pass.
        st::set(st::EdidStatus, 0x20, i2c->i2c_write(fd_, 0xEE, kChannel[input], nullptr, 0) == 1);

        if (custom_edid_req[input] == 1 && custom_edid_written[input] == 1) {
            // Tested again under the lock: a new request (written flag back to 0) that landed since
            // the test above must stay pending, not be cleared unserved.
            bool served = false;
            {
                QMutexLocker lock(&Utils::_system_mutex);
                if (custom_edid_req[input] == 1 && custom_edid_written[input] == 1) {
                    custom_edid_req[input] = 0;
                    custom_edid_written[input] = 0;
                    served = true;
                }
            }
            if (served)
                restartWithHotPlugLow(input);
        }

        if (const uint8_t reg0 = st::take(regimage::kRegisters)) {
            if (reg0 & 0x0F) {
                applyPathBits(reg0);
                ite6805->top_state[0] = 0;
                ite6805->top_state[1] = 0;
            }
            applyHotPlugBits(reg0);
            if (reg0 & 0xC0) // a hot-plug drop restarts device 0's state machine
                ite6805->top_state[0] = 0;
            // The hot-plug calls switched 0xEE to an iTE6805's channel: this input's step must
            // reach its own receiver, not the iTE6805 that shares address 0x90.
            if (reg0 & 0xF0)
                st::set(st::EdidStatus, 0x20, i2c->i2c_write(fd_, 0xEE, kChannel[input], nullptr, 0) == 1);
        }

        if (hotPlugHeldLow(input))
            continue;
        if (input < It6602Inputs) {
            switch (it6602_step[input]) {
            case 0:
                identifyIt6602(input);
                break;
            case 1:
                it6602->IT6602_fsm_init_1(fd_, input);
                it6602_step[input] = 2;
                it6602_dead_[input] = 0;
                break;
            default:
                stepIt6602(input);
                break;
            }
        } else {
            ite6805->iTE6805_FSM(input - 4);
        }
    }
    if (it66121->fail_count < SdiTestLimit)
        it66121_sdi_enable();
}

// A receiver that does not identify is asked again about once a second, not on every pass.
void keltosource::identifyIt6602(int input)
{
    if (it6602_unidentified_[input] && Utils::getTimeSpace(it6602_id_stamp_[input]) < IdentifyRetryTicks)
        return;
    it6602_unidentified_[input] = it6602->IT6602_fsm_init(fd_, input) == 0;
    if (it6602_unidentified_[input])
        it6602_id_stamp_[input] = G_timeTicks;
    else
        it6602_step[input] = 1;
}

// A silent receiver reads as all zeros, which looks like an input without interrupts for ever: after
// a few passes in a row with refused transfers it counts as gone, its input shows no signal, and it
// is identified and set up afresh once it answers again.
void keltosource::stepIt6602(int input)
{
    it6602->takeFailures();
    it6602->IT6602_fsm(fd_, input);
    if (it6602->takeFailures() == 0) {
        it6602_dead_[input] = 0;
        return;
    }
    if (++it6602_dead_[input] < DeadPassLimit)
        return;
    writeLogMsg(LOG_ERROR, "IT6602 receiver " + std::to_string(input) + " (input " + std::to_string(input) +
                               ") stopped answering; input shown without signal, identifying again");
    it6602_dead_[input] = 0;
    it6602_step[input] = 0;
    it6602->lostChip(input);
}

// After a custom EDID write the source must see the hot-plug line low long enough to read the EDID
// again (commonly 100 ms or more): the receiver is held, not stepped, until the time has passed,
// and its restart then raises the line.
void keltosource::restartWithHotPlugLow(int input)
{
    if (input < It6602Inputs) {
        it6602->IT6602HPDCtrl(fd_, input, 0, false);
        it6602_step[input] = 0;
    } else {
        ite6805->iTE6805_Set_HPD_Ctrl(0, 0, input - 4);
        ite6805->top_state[input - 4] = 0;
    }
    hpd_low_stamp_[input] = G_timeTicks;
    hpd_low_[input] = true;
}

bool keltosource::hotPlugHeldLow(int input)
{
    if (!hpd_low_[input])
        return false;
    if (Utils::getTimeSpace(hpd_low_stamp_[input]) <= HotPlugLowTicks)
        return true;
    hpd_low_[input] = false;
    return false;
}

void keltosource::it66121_sdi_enable()
{
    switch (sdi_step) {
    case 0:
        it66121->sdi_it66121_init();
        sdi_step = 1;
        break;
    case 1:
        it66121->test_result = uint8_t(it66121->IT66121_Test());
        if (it66121->test_result == 0) {
            ++it66121->fail_count;
            st::set(st::ChipPresence, 0x02, false);
            if (it66121->fail_count == SdiTestLimit)
                writeLogMsg(LOG_WARNING, "keltosource: SDI transmitter not found, SDI path off");
        } else {
            st::set(st::ChipPresence, 0x02, true);
            sdi_step = 2;
        }
        break;
    case 2:
        it66121->IT66121_init();
        sdi_step = 3;
        break;
    default:
        it66121->HDMITX_DevLoopProc();
        break;
    }
}
