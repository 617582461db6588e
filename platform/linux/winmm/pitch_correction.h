/*
 * pitch_correction.h - the synthesizer tuned to equal temperament.
 *
 * A General MIDI SoundFont's samples are a few cents off the pitch that
 * their headers declare, so every program that plays them sounds a few
 * cents sharp or flat, and a tuning reference must not. The MIDI Mapper
 * measures the pitch that FluidSynth really renders for a preset's key (an
 * offline render on a synthesizer of its own, the pitch found by aubio),
 * keeps what it measured per SoundFont in the user's cache, and cancels the
 * error through FluidSynth's tuning tables, one for each MIDI channel. As
 * FluidSynth renders pitch in whole cents, the error left is the measured
 * one's distance to the nearest whole cent: half a cent at the most.
 *
 * A key is measured the first time it is struck, on the way to its note:
 * its render, effects and all, and one pitch estimate a window take a few
 * milliseconds. The measuring synthesizer is loaded with the SoundFont when
 * nothing is known of it yet (so the first note does not wait for it), or
 * at the first key not yet known, and kept while the program runs; with
 * the cache warm, nothing is measured and no second synthesizer is loaded.
 * Everything runs on the thread that plays: no lock is shared with the
 * stream's thread, and nothing of lower priority holds what a note needs.
 * The pitch of a key is taken to be the same at every velocity, as it is
 * in the General MIDI SoundFonts measured (within 0.02 cent).
 */
#ifndef STRELLAN_PLATFORM_LINUX_WINMM_PITCH_CORRECTION_H
#define STRELLAN_PLATFORM_LINUX_WINMM_PITCH_CORRECTION_H

#include <fluidsynth.h>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <tuple>

namespace strellan {

/* The fundamental of a steady note, in Hz: the median of aubio's YIN
   estimates that it is sure of, one a window from start on (about 1 ms
   for 1.5 s of sound); 0 when it finds none. */
double MeasurePitchHz(const float* samples, std::size_t count, double sampleRate,
                      std::size_t start);

/* The error that a preset's key is rendered with, in cents from equal
   temperament at A4 = 440 Hz, by bank, program and key; nothing for a key
   whose pitch cannot be found (too low, silent, or meant to sound at
   another pitch). */
class PitchTable {
public:
    using Key = std::tuple<int, int, int>;
    /* The error in cents; none for a key measured and found to have no
       pitch that can be corrected. */
    using Cents = std::optional<double>;

    /* The cache file for a SoundFont as it is now (its path, size and
       time of change) at a sample rate, under the cache directory. */
    PitchTable(const std::string& soundFont, double sampleRate, const std::string& cacheDir);

    /* The cache file's entries, when it is one of ours for this very
       SoundFont; a corrupt or foreign file is ignored (and rewritten at the
       next save). False when there was nothing to read. */
    bool Load();
    /* Writes the whole table; false (and the reason on stderr, once) when
       the cache cannot be written, which only costs measuring again. */
    bool Save() const;

    const std::string& path() const { return path_; }
    bool Has(Key k) const { return entries_.count(k) != 0; }
    Cents Get(Key k) const;
    void Set(Key k, Cents cents) { entries_[k] = cents; }
    std::size_t size() const { return entries_.size(); }
    const std::map<Key, Cents>& entries() const { return entries_; }

private:
    std::string header_;
    std::string path_;
    std::map<Key, Cents> entries_;
    mutable bool saidCannotWrite_ = false;
};

/* Where Strellan caches: $XDG_CACHE_HOME/strellan, else ~/.cache/strellan;
   empty when neither is known. */
std::string CacheDirectory();

class PitchCorrection {
public:
    PitchCorrection(const std::string& soundFont, double sampleRate, const std::string& cacheDir);
    ~PitchCorrection();
    PitchCorrection(const PitchCorrection&) = delete;
    PitchCorrection& operator=(const PitchCorrection&) = delete;

    /* Before a Note On of key on chan: the channel's tuning for the key
       set to cancel its measured error (measured now when it never was).
       Drum channels are left alone. */
    void BeforeNoteOn(fluid_synth_t* synth, int chan, int key);

    /* The error of a key, measured now if it never was, and kept. */
    PitchTable::Cents ErrorCents(int bank, int program, int key);

private:
    /* One key rendered on the measuring synthesizer (loaded if it is not)
       and measured: its error, none when it has no pitch to find. */
    PitchTable::Cents MeasureKey(PitchTable::Key key);
    void LoadMeter();

    std::string soundFont_;
    double rate_;
    PitchTable table_;

    /* The measuring synthesizer, as the player's sounds, effects and all:
       a preset's chorus moves the pitch that the ear (and the detector)
       hears. */
    fluid_settings_t* meterSettings_ = nullptr;
    fluid_synth_t* meter_ = nullptr;

    bool tuningMade_[16] = {};
};

} // namespace strellan

#endif
