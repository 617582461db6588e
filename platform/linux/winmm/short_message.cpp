/*
 * short_message.cpp - a word decoded (running status included) and played
 * on FluidSynth.
 */
#include "platform/linux/winmm/short_message.h"

namespace strellan {

namespace {

/* A status byte's kind: its high nibble, or the whole byte for system
   messages. */
enum : BYTE {
    NOTE_OFF = 0x80,
    NOTE_ON = 0x90,
    KEY_PRESSURE = 0xA0,
    CONTROL_CHANGE = 0xB0,
    PROGRAM_CHANGE = 0xC0,
    CHANNEL_PRESSURE = 0xD0,
    PITCH_BEND = 0xE0,
    SYSTEM_RESET = 0xFF,
};

/* Status bytes have the top bit set; 0xF0 on are system messages, common
   ones then, from 0xF8 real-time ones. */
constexpr BYTE kFirstStatus = 0x80;
constexpr BYTE kFirstSystemStatus = 0xF0;
constexpr BYTE kFirstRealTimeStatus = 0xF8;
constexpr BYTE kDataMask = 0x7F;

BYTE DataByte(DWORD word, int index)
{
    return static_cast<BYTE>(word >> (8 * index) & kDataMask);
}

} // namespace

std::optional<MidiMessage> ShortMessageDecoder::Decode(DWORD word)
{
    const auto first = static_cast<BYTE>(word & 0xFF);
    if (first < kFirstStatus) {
        if (runningStatus_ == 0)
            return std::nullopt;
        return MidiMessage{runningStatus_, DataByte(word, 0), DataByte(word, 1)};
    }
    if (first < kFirstSystemStatus)
        runningStatus_ = first;
    else if (first < kFirstRealTimeStatus)
        runningStatus_ = 0;
    return MidiMessage{first, DataByte(word, 1), DataByte(word, 2)};
}

void PlayOnSynth(fluid_synth_t* synth, const MidiMessage& m)
{
    const int chan = m.status & 0x0F;
    switch (m.status & 0xF0) {
    case NOTE_OFF:
        fluid_synth_noteoff(synth, chan, m.data1);
        break;
    case NOTE_ON:
        if (m.data2 == 0)
            fluid_synth_noteoff(synth, chan, m.data1);
        else
            fluid_synth_noteon(synth, chan, m.data1, m.data2);
        break;
    case KEY_PRESSURE:
        fluid_synth_key_pressure(synth, chan, m.data1, m.data2);
        break;
    case CONTROL_CHANGE:
        fluid_synth_cc(synth, chan, m.data1, m.data2);
        break;
    case PROGRAM_CHANGE:
        fluid_synth_program_change(synth, chan, m.data1);
        break;
    case CHANNEL_PRESSURE:
        fluid_synth_channel_pressure(synth, chan, m.data1);
        break;
    case PITCH_BEND:
        fluid_synth_pitch_bend(synth, chan, m.data1 | m.data2 << 7);
        break;
    default:
        if (m.status == SYSTEM_RESET)
            fluid_synth_system_reset(synth);
        break;
    }
}

} // namespace strellan
