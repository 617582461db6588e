// render_strings - the eight strings as the Linux MIDI Mapper's synthesizer
// plays them, rendered offline for the pitch table of bench/pitch_table.py:
// each string's program change and Note On, 1.65 s of it (left and right
// mixed), then 0.35 s of silence, and the effects' tail rendered away
// before the next string (as the sound tests wait for silence after Stop).
// With "plain", the SoundFont as FluidSynth plays it; with "corrected",
// through the mapper's synthesizer.
//
//     render_strings plain|corrected SOUNDFONT CACHE_DIR OUT.f32
#include "core/reference_strings.h"
#include "platform/linux/winmm/synth.h"

#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: render_strings plain|corrected SOUNDFONT CACHE_DIR OUT\n");
        return 2;
    }
    const bool corrected = std::strcmp(argv[1], "corrected") == 0;
    strellan::Synthesizer s;
    if (!s.Load({argv[2]}, argv[3]))
        return 1;
    fluid_synth_t* synth = s.synth();
    std::FILE* out = std::fopen(argv[4], "wb");
    if (!out)
        return 1;
    const int rate = static_cast<int>(strellan::Synthesizer::kSampleRate);
    std::vector<float> left(static_cast<std::size_t>(rate) * 2), right(left.size());
    for (const ReferenceString& rs : REFERENCE_STRINGS) {
        if (corrected) {
            s.Play(MIDIMSG_PROGRAM_GUITAR);
            s.Play(rs.dwNoteOn);
        } else {
            fluid_synth_program_change(synth, 0, 26);
            fluid_synth_noteon(synth, 0, rs.bNote, rs.bVelocity);
        }
        fluid_synth_write_float(synth, rate * 165 / 100, left.data(), 0, 1, right.data(), 0, 1);
        fluid_synth_all_sounds_off(synth, -1);
        fluid_synth_write_float(synth, rate * 35 / 100, left.data() + rate * 165 / 100, 0, 1,
                                right.data() + rate * 165 / 100, 0, 1);
        for (std::size_t i = 0; i < left.size(); ++i)
            left[i] = (left[i] + right[i]) / 2;
        std::fwrite(left.data(), sizeof(float), left.size(), out);
        std::vector<float> tail(static_cast<std::size_t>(rate) * 5), tailRight(tail.size());
        fluid_synth_write_float(synth, static_cast<int>(tail.size()), tail.data(), 0, 1,
                                tailRight.data(), 0, 1);
    }
    std::fclose(out);
    return 0;
}
