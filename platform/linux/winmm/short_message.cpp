/*
 * short_message.cpp - a word decoded (running status included) and played
 * on FluidSynth.
 */
#include "platform/linux/winmm/short_message.h"

namespace strellan {

namespace {

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

MidiKind MidiMessage::Kind() const
{
    switch (status & 0xF0) {
    case 0x80:
        return MidiKind::NoteOff;
    case 0x90:
        return MidiKind::NoteOn;
    case 0xA0:
        return MidiKind::KeyPressure;
    case 0xB0:
        return MidiKind::ControlChange;
    case 0xC0:
        return MidiKind::ProgramChange;
    case 0xD0:
        return MidiKind::ChannelPressure;
    case 0xE0:
        return MidiKind::PitchBend;
    }
    return status == 0xFF ? MidiKind::SystemReset : MidiKind::OtherSystem;
}

void PlayOnSynth(fluid_synth_t* synth, const MidiMessage& m)
{
    const int chan = m.Channel();
    switch (m.Kind()) {
    case MidiKind::NoteOff:
        fluid_synth_noteoff(synth, chan, m.data1);
        break;
    case MidiKind::NoteOn:
        if (m.StrikesANote())
            fluid_synth_noteon(synth, chan, m.data1, m.data2);
        else
            fluid_synth_noteoff(synth, chan, m.data1);
        break;
    case MidiKind::KeyPressure:
        fluid_synth_key_pressure(synth, chan, m.data1, m.data2);
        break;
    case MidiKind::ControlChange:
        fluid_synth_cc(synth, chan, m.data1, m.data2);
        break;
    case MidiKind::ProgramChange:
        fluid_synth_program_change(synth, chan, m.data1);
        break;
    case MidiKind::ChannelPressure:
        fluid_synth_channel_pressure(synth, chan, m.data1);
        break;
    case MidiKind::PitchBend:
        fluid_synth_pitch_bend(synth, chan, m.data1 | m.data2 << 7);
        break;
    case MidiKind::SystemReset:
        fluid_synth_system_reset(synth);
        break;
    case MidiKind::OtherSystem:
        break;
    }
}

} // namespace strellan
