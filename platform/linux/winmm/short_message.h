/*
 * short_message.h - what a midiOutShortMsg word means, and playing it on
 * the synthesizer.
 *
 * The word packs a MIDI message as it would cross a cable: the status byte
 * in bits 0-7, the data bytes in bits 8-15 and 16-23. A word whose first
 * byte is data (below 0x80) continues the last channel message's status:
 * running status.
 */
#ifndef STRELLAN_PLATFORM_LINUX_WINMM_SHORT_MESSAGE_H
#define STRELLAN_PLATFORM_LINUX_WINMM_SHORT_MESSAGE_H

#include "platform/win32.h"

#include <fluidsynth.h>

#include <optional>

namespace strellan {

/* What a status byte says it is: a channel message's kind (its high
   nibble), System Reset, or another system message. */
enum class MidiKind {
    NoteOff,
    NoteOn,
    KeyPressure,
    ControlChange,
    ProgramChange,
    ChannelPressure,
    PitchBend,
    SystemReset,
    OtherSystem,
};

struct MidiMessage {
    BYTE status; /* kind in the high nibble, channel in the low one */
    BYTE data1;
    BYTE data2;

    MidiKind Kind() const;
    int Channel() const { return status & 0x0F; }
    /* A Note On at velocity 0 is a Note Off. */
    bool StrikesANote() const { return Kind() == MidiKind::NoteOn && data2 != 0; }
};

/* The port's memory between two words. A channel message's status is
   kept for running status; a system common message (0xF0-0xF7) forgets
   it; a real-time message (0xF8-0xFF) leaves it alone. */
class ShortMessageDecoder {
public:
    /* The message the word carries, data bytes masked to 7 bits as a
       cable would carry them; nothing for data with no status to run on. */
    std::optional<MidiMessage> Decode(DWORD word);

private:
    BYTE runningStatus_ = 0;
};

/* Plays one message on the synthesizer: notes, Note On at velocity 0 as a
   Note Off, controllers (All Notes Off among them), program changes,
   pressure, pitch bend and System Reset. Other system messages carry
   nothing for a synthesizer. */
void PlayOnSynth(fluid_synth_t* synth, const MidiMessage& m);

} // namespace strellan

#endif
