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
 * A key is measured the first time it is struck, quickly, before the note
 * (a few milliseconds); then every key of the preset, that one again among
 * them, at leisure in the background, which tells a note that wanders
 * (with its chorus, say) more surely. With the cache warm, nothing is
 * measured and no second synthesizer is loaded. The pitch of a key is
 * taken to be the same at every velocity, as it is in the General MIDI
 * SoundFonts measured (within 0.02 cent).
 */
#ifndef STRELLAN_PLATFORM_LINUX_WINMM_PITCH_CORRECTION_H
#define STRELLAN_PLATFORM_LINUX_WINMM_PITCH_CORRECTION_H

#include <fluidsynth.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>

namespace strellan {

/* The fundamental of a steady note, in Hz: the median of aubio's YIN
   estimates that it is sure of, from start on; 0 when it finds none.
   Quick: one estimate a window (about 1 ms for 1.5 s of sound); else one
   every 512 samples over windows of 8192, as the sound tests measure. */
double MeasurePitchHz(const float* samples, std::size_t count, double sampleRate, std::size_t start,
                      bool quick);

/* The error that a preset's key is rendered with, in cents from equal
   temperament at A4 = 440 Hz, by bank, program and key; nothing for a key
   whose pitch cannot be found (too low, silent, or meant to sound at
   another pitch). */
class PitchTable {
public:
    using Key = std::tuple<int, int, int>;
    struct Entry {
        std::optional<double> cents;
        bool quick = false; /* to be measured again at leisure */
    };

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
    /* Measured at leisure (or found unmeasurable). */
    bool HasPrecise(Key k) const;
    std::optional<double> Get(Key k) const;
    void Set(Key k, Entry e) { entries_[k] = e; }
    std::size_t size() const { return entries_.size(); }
    const std::map<Key, Entry>& entries() const { return entries_; }

private:
    std::string header_;
    std::string path_;
    std::map<Key, Entry> entries_;
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

    /* The measured error of a key, waiting for the measurement if needed. */
    std::optional<double> ErrorCents(int bank, int program, int key);

    /* Waits until every measurement asked for is done and saved. */
    void Settle();

private:
    void StartWorker();
    void Work();
    void QueuePreset(int bank, int program);
    /* One key rendered on the measuring synthesizer (loaded if it is not)
       and measured, on whichever thread asks: its error, none when it has
       no pitch to find; nothing at all when a measurement at leisure gave
       way to a note's. */
    std::optional<std::optional<double>> MeasureKey(PitchTable::Key key, bool quick);
    void LoadMeter();
    void UnloadMeter();

    std::string soundFont_;
    double rate_;

    /* The table and the worker's queue: the keys to measure at leisure. */
    std::mutex mutex_;
    std::condition_variable changed_;
    PitchTable table_;
    std::deque<PitchTable::Key> jobs_;
    bool busy_ = false;  /* the worker is measuring */
    bool dirty_ = false; /* measured, not yet saved */
    bool stop_ = false;
    std::thread worker_;

    /* The measuring synthesizer, loaded while there is something to
       measure: a note's quick measurement on the program's thread, the
       worker's at leisure. Its lock is held while it renders, not while a
       rendering is measured, so a note waits for a render at most. */
    std::mutex meterMutex_;
    fluid_settings_t* meterSettings_ = nullptr;
    fluid_synth_t* meter_ = nullptr;
    bool tailPending_ = false;   /* the last key's effects still ring */
    std::atomic<int> urgent_{0}; /* notes waiting for a measurement */

    bool tuningMade_[16] = {}; /* the program's thread's own */
};

} // namespace strellan

#endif
