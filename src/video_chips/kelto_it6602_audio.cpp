#include "video_chips/kelto_it6602.h"
#include "video_chips/kelto_it6602_regs.h"

#include <cstdio>

using namespace it6602;

namespace {
constexpr uint16_t ReadyWait = 201;   // passes x 100 before a requested audio is switched on
constexpr uint16_t RecheckWait = 151; // capabilities read again while audio is on
}

void kelto_it6602::audioCapabilities(int fd, uint8_t caps[3])
{
    caps[0] = hdmirxrd_it6602(fd, RegAudioFlags);
    caps[1] = hdmirxrd_it6602(fd, RegAudioChannels);
    caps[2] = hdmirxrd_it6602(fd, RegAudioFs);
}

void kelto_it6602::audioOutput(int fd, bool on)
{
    hdmirxset_it6602(fd, RegAudioOutput, AudioOutputsOff, on ? 0x00 : AudioOutputsOff);
}

void kelto_it6602::audioReset(int fd)
{
    hdmirxset_it6602(fd, RegAudioControl, AudioReset, AudioReset);
    hdmirxset_it6602(fd, RegAudioControl, AudioReset, 0x00);
}

void kelto_it6602::IT6602SwitchAudioState(int fd, int index, _Audio_State_Type state)
{
    IT6602_dev_data& d = dev_[index];
    d.audioState = state;
    switch (state) {
    case ASTATE_AudioOff:
        hdmirxset_it6602(fd, RegAudioControl, AudioReset, AudioReset); // held until audio is requested
        audioOutput(fd, false);
        break;
    case ASTATE_WaitForReady:
        d.audioWait = ReadyWait;
        hdmirxset_it6602(fd, RegAudioMute, AudioMute, AudioMute);
        hdmirxset_it6602(fd, RegAudioMute, AudioMute, 0x00);
        break;
    case ASTATE_AudioOn:
        audioOutput(fd, true);
        d.audioWait = RecheckWait;
        if (tracing())
            std::printf("Cat6023 Audio--> Audio flag=%02X,Ch No=%02X,Fs=%02X ...\n", d.audioFlags, d.audioChannels,
                        d.audioFs);
        break;
    default:
        break;
    }
}

void kelto_it6602::IT6602AudioHandler(int fd, int index)
{
    IT6602_dev_data& d = dev_[index];
    bool ranOut = false;
    if (d.audioWait > 100) {
        d.audioWait = uint16_t(d.audioWait - 100);
    } else {
        d.audioWait = 0;
        ranOut = true;
    }
    switch (d.audioState) {
    case ASTATE_RequestAudio: {
        uint8_t caps[3];
        audioCapabilities(fd, caps);
        if (!(caps[0] & AudioValid))
            break; // nothing announced yet: asked again next pass
        d.audioFlags = caps[0];
        d.audioChannels = caps[1];
        d.audioFs = caps[2];
        if (caps[0] & AudioHbr) {
            hdmirxset_it6602(fd, RegAudioMode, AudioModeMask, 0x00);
            if (tracing())
                std::printf("+++++++++++ B_CAP_HBR_AUDIO +++++++++++++++++\n");
        } else {
            hdmirxset_it6602(fd, RegAudioMode, AudioModeMask, 0x10);
            if (!(caps[0] & AudioDsd))
                hdmirxset_it6602(fd, RegAudioDsd, DsdPath, 0x00);
        }
        hdmirxset_it6602(fd, RegAudioMute, HardwareMuteClear, HardwareMuteClear);
        audioReset(fd);
        IT6602SwitchAudioState(fd, index, ASTATE_WaitForReady);
        break;
    }
    case ASTATE_WaitForReady:
        if (ranOut)
            IT6602SwitchAudioState(fd, index, ASTATE_AudioOn);
        break;
    case ASTATE_AudioOn:
        if (ranOut) {
            uint8_t caps[3];
            audioCapabilities(fd, caps);
            if (caps[0] != d.audioFlags || caps[1] != d.audioChannels || caps[2] != d.audioFs)
                d.audioState = ASTATE_RequestAudio;
            else
                d.audioWait = RecheckWait;
        }
        break;
    default:
        break;
    }
}
