// What the MIDI Mapper makes of a midiOutShortMsg word: decoded by the
// rules of a MIDI cable, then played on a real FluidSynth synthesizer (with
// a General MIDI SoundFont, rendering nothing), whose state is read back.
#include "platform/linux/winmm/short_message.h"
#include "platform/linux/winmm/soundfont.h"
#include "platform/linux/winmm/synth.h"

#include <gtest/gtest.h>

#include <fluidsynth.h>

#include <filesystem>
#include <vector>

namespace {

using strellan::MidiMessage;
using strellan::ShortMessageDecoder;

std::vector<int> Decoded(ShortMessageDecoder& d, DWORD word)
{
    std::optional<MidiMessage> m = d.Decode(word);
    if (!m)
        return {};
    return {m->status, m->data1, m->data2};
}

TEST(ShortMessage, StatusAndDataBytesComeFromTheirBitsMaskedToSevenBits)
{
    ShortMessageDecoder d;
    EXPECT_EQ(Decoded(d, 0x007F2890), (std::vector<int>{0x90, 40, 127}));
    EXPECT_EQ(Decoded(d, 0x00001AC0), (std::vector<int>{0xC0, 26, 0}));
    EXPECT_EQ(Decoded(d, 0x00007BB0), (std::vector<int>{0xB0, 123, 0}));
    EXPECT_EQ(Decoded(d, 0x005F1E90), (std::vector<int>{0x90, 30, 95}));
    // A cable carries 7-bit data: the top bits of the data bytes, and the
    // top byte of the word, are not part of the message.
    EXPECT_EQ(Decoded(d, 0xAAFFA891), (std::vector<int>{0x91, 0x28, 0x7F}));
}

TEST(ShortMessage, RunningStatusContinuesTheLastChannelMessage)
{
    ShortMessageDecoder d;
    EXPECT_EQ(Decoded(d, 0x00004028), std::vector<int>{}) << "no status yet to run on";
    EXPECT_EQ(Decoded(d, 0x007F2890), (std::vector<int>{0x90, 40, 127}));
    // Data first: the first byte is data 1, the second data 2.
    EXPECT_EQ(Decoded(d, 0x0000642D), (std::vector<int>{0x90, 45, 100}));
    EXPECT_EQ(Decoded(d, 0x00000032), (std::vector<int>{0x90, 50, 0}));
    EXPECT_EQ(Decoded(d, 0x00000AB3), (std::vector<int>{0xB3, 10, 0}));
    EXPECT_EQ(Decoded(d, 0x00004007), (std::vector<int>{0xB3, 7, 64}));
}

TEST(ShortMessage, SystemMessagesPassAndOnlyCommonOnesEndRunningStatus)
{
    ShortMessageDecoder d;
    Decoded(d, 0x007F2890);
    // Real-time messages (clock, start, reset) may come between the bytes
    // of others: running status survives them.
    for (DWORD realTime : {0xF8u, 0xFAu, 0xFEu, 0xFFu}) {
        EXPECT_EQ(Decoded(d, realTime), (std::vector<int>{static_cast<int>(realTime), 0, 0}));
        EXPECT_EQ(Decoded(d, 0x00007F2D), (std::vector<int>{0x90, 45, 127})) << realTime;
    }
    // A system common message (song select, tune request) ends it.
    EXPECT_EQ(Decoded(d, 0x000003F3), (std::vector<int>{0xF3, 3, 0}));
    EXPECT_EQ(Decoded(d, 0x00007F2D), std::vector<int>{});
    Decoded(d, 0x00004080);
    EXPECT_EQ(Decoded(d, 0xF6), (std::vector<int>{0xF6, 0, 0}));
    EXPECT_EQ(Decoded(d, 0x00004028), std::vector<int>{});
}

// A synthesizer with the SoundFont the mapper would load, and no audio.
class OnTheSynth : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings = new_fluid_settings();
        synth = new_fluid_synth(settings);
        ASSERT_FALSE(strellan::LoadSoundFont(synth, strellan::SoundFontSearchPath()).empty())
            << "no General MIDI SoundFont installed";
        fluid_synth_program_reset(synth); /* General MIDI's defaults */
    }
    void TearDown() override
    {
        delete_fluid_synth(synth);
        delete_fluid_settings(settings);
    }

    void Send(DWORD word)
    {
        if (std::optional<MidiMessage> m = decoder.Decode(word))
            strellan::PlayOnSynth(synth, *m);
    }

    struct Voice {
        int channel, key, velocity;
        bool on; // sounding and not yet released
    };
    std::vector<Voice> Voices()
    {
        fluid_voice_t* buf[64] = {};
        fluid_synth_get_voicelist(synth, buf, 64, -1);
        std::vector<Voice> out;
        for (fluid_voice_t* v : buf)
            if (v && fluid_voice_is_playing(v))
                out.push_back({fluid_voice_get_channel(v), fluid_voice_get_key(v),
                               fluid_voice_get_velocity(v), fluid_voice_is_on(v) != 0});
        return out;
    }
    int KeysOn(int key)
    {
        int n = 0;
        for (const Voice& v : Voices())
            n += v.on && v.key == key;
        return n;
    }
    int Program(int chan)
    {
        int sfont = 0, bank = 0, preset = -1;
        fluid_synth_get_program(synth, chan, &sfont, &bank, &preset);
        return preset;
    }

    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    ShortMessageDecoder decoder;
};

TEST_F(OnTheSynth, PlaySendsTheGuitarThenTheNote)
{
    Send(0x00001AC0);
    EXPECT_EQ(Program(0), 26);
    Send(0x005F1E90);
    std::vector<Voice> voices = Voices();
    ASSERT_FALSE(voices.empty());
    for (const Voice& v : voices) {
        EXPECT_EQ(v.channel, 0);
        EXPECT_EQ(v.key, 30);
        EXPECT_EQ(v.velocity, 95);
        EXPECT_TRUE(v.on);
    }
}

TEST_F(OnTheSynth, NoteOffAndNoteOnAtVelocityZeroReleaseTheNote)
{
    for (DWORD off : {0x00402880u, 0x00002890u, 0x00002880u}) {
        Send(0x007F2890);
        ASSERT_GT(KeysOn(40), 0);
        Send(off);
        EXPECT_EQ(KeysOn(40), 0) << std::hex << off;
    }
    // A Note Off starts nothing.
    Send(0x007F3280);
    EXPECT_EQ(KeysOn(50), 0);
}

TEST_F(OnTheSynth, AllNotesOffReleasesEveryNoteOfTheChannelOnly)
{
    Send(0x007F2890);
    Send(0x007F2D90);
    Send(0x007F3291); // channel 2
    Send(0x00007BB0);
    EXPECT_EQ(KeysOn(40), 0);
    EXPECT_EQ(KeysOn(45), 0);
    EXPECT_GT(KeysOn(50), 0);
}

TEST_F(OnTheSynth, RunningStatusStrikesAgain)
{
    Send(0x007F2890);
    Send(0x00007F2D); // A2 at 127 by running status
    EXPECT_GT(KeysOn(45), 0);
    Send(0x0000002D); // and off again: velocity 0
    EXPECT_EQ(KeysOn(45), 0);
    EXPECT_GT(KeysOn(40), 0);
}

TEST_F(OnTheSynth, ControllersBendAndSystemReset)
{
    Send(0x006407B0); // volume 100
    int volume = 0;
    fluid_synth_get_cc(synth, 0, 7, &volume);
    EXPECT_EQ(volume, 100);
    Send(0x007F00E0); // pitch bend: LSB 0, MSB 127
    int bend = 0;
    fluid_synth_get_pitch_bend(synth, 0, &bend);
    EXPECT_EQ(bend, 127 << 7);

    Send(0x00001AC0);
    Send(0x007F2890);
    Send(0xFF); // System Reset: programs back to 0, every note gone
    EXPECT_EQ(Program(0), 0);
    EXPECT_EQ(KeysOn(40), 0);
    fluid_synth_get_pitch_bend(synth, 0, &bend);
    EXPECT_EQ(bend, 8192);
}

// Through the mapper's synthesizer, which loads the SoundFont with no
// preset chosen: a channel struck first plays General MIDI's default, and
// one whose program was chosen keeps it.
TEST(OnTheMappersSynth, ANoteBeforeAnyProgramChangePlaysTheDefault)
{
    const std::string cache = ::testing::TempDir() + "strellan-short-message-cache";
    std::filesystem::remove_all(cache);
    strellan::Synthesizer s;
    ASSERT_TRUE(s.Load(strellan::SoundFontSearchPath(), cache));
    s.Play(0x007F2891); // channel 2, never programmed
    int playing = 0;
    fluid_voice_t* voices[16] = {};
    fluid_synth_get_voicelist(s.synth(), voices, 16, -1);
    for (fluid_voice_t* v : voices)
        playing += v && fluid_voice_is_on(v) && fluid_voice_get_channel(v) == 1;
    EXPECT_GT(playing, 0);
    int sfont = 0, bank = 0, program = -1;
    s.Play(0x00001AC0);
    s.Play(0x007F2890);
    fluid_synth_get_program(s.synth(), 0, &sfont, &bank, &program);
    EXPECT_EQ(program, 26) << "the note kept the program chosen";
    std::filesystem::remove_all(cache);
}

} // namespace
