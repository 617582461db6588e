/*
 * pitch_correction.cpp - a key's pitch measured with aubio on a
 * synthesizer of its own, the cache of what was measured, and the tuning
 * that cancels it.
 */
#include "platform/linux/winmm/pitch_correction.h"

#include <aubio/aubio.h>
#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace strellan {

namespace {

/* What a key's pitch is taken from: the note struck hard, rendered for
   1.65 s, the first 150 ms (the attack) passed over. */
constexpr int kMeasureVelocity = 127;
constexpr double kRenderSeconds = 1.65;
constexpr double kAttackSeconds = 0.15;
constexpr double kTailSeconds = 1.0;

/* aubio's YIN: a window long enough for the lowest string (F#1, 46 Hz:
   periods up to half the window), one estimate each, that counts when the
   detector is this sure of it. Over 1.5 s of a General MIDI guitar the
   median lands within 0.03 cent of one estimate every 512 samples over
   windows twice as long, in a twentieth of the time. */
constexpr unsigned kWindow = 4096;
constexpr float kPitchConfidence = 0.9f;

/* An error larger than this is no error but a preset meant to sound at
   another pitch (or an octave the detector got wrong): left alone. */
constexpr double kLargestErrorCents = 50.0;

constexpr int kDrumBank = 128;
constexpr int kMidiChannels = 16;
constexpr int kTuningBank = 0;   /* one tuning a channel: bank 0, program = channel */
constexpr int kNewNotesOnly = 0; /* a tuning change leaves sounding notes as they are */

constexpr const char* kCacheMagic = "Strellan pitch cache 3";

double EqualTemperamentHz(int key)
{
    return 440.0 * std::pow(2.0, (key - 69) / 12.0);
}

/* FNV-1a: a short, stable name for the cache file of a SoundFont. */
std::uint64_t Fnv1a(const std::string& s)
{
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::string TableHeader(const std::string& soundFont, double sampleRate)
{
    struct stat st {};
    stat(soundFont.c_str(), &st);
    std::ostringstream h;
    h << kCacheMagic << '\n'
      << "soundfont " << soundFont << ' ' << st.st_size << ' ' << st.st_mtim.tv_sec << '.'
      << st.st_mtim.tv_nsec << '\n'
      << "fluidsynth " << fluid_version_str() << '\n'
      << "rate " << sampleRate << '\n'
      << "method yinfast " << kWindow << '/' << kWindow << ' ' << kAttackSeconds << ' '
      << kRenderSeconds << ' ' << kMeasureVelocity << " with effects\n";
    return h.str();
}

/* One entry: "bank program key cents", cents "-" for none. */
bool ParseEntry(const std::string& line, PitchTable::Key* key, PitchTable::Cents* cents)
{
    std::istringstream in(line);
    int bank = -1, program = -1, k = -1;
    std::string value;
    if (!(in >> bank >> program >> k >> value) || bank < 0 || bank > 16383 || program < 0 ||
        program > 127 || k < 0 || k > 127 || !(in >> std::ws).eof())
        return false;
    *key = {bank, program, k};
    if (value == "-") {
        *cents = std::nullopt;
        return true;
    }
    char* end = nullptr;
    double v = std::strtod(value.c_str(), &end);
    if (*end != '\0' || !std::isfinite(v) || std::fabs(v) > kLargestErrorCents)
        return false;
    *cents = v;
    return true;
}

/* aubio, opened when something is first measured: it brings a hundred
   libraries with it (FFmpeg's among them) that a run with the cache warm
   has no use for, and that would slow every start and weigh on memory. */
constexpr const char* kAubioLibrary = "libaubio.so.5";

struct Aubio {
    decltype(&new_aubio_pitch) newPitch;
    decltype(&aubio_pitch_set_unit) setUnit;
    decltype(&aubio_pitch_do) pitchDo;
    decltype(&aubio_pitch_get_confidence) confidence;
    decltype(&del_aubio_pitch) deletePitch;
    decltype(&new_fvec) newFvec;
    decltype(&del_fvec) deleteFvec;
};

template <typename F>
bool Find(void* library, const char* name, F* f)
{
    *f = reinterpret_cast<F>(dlsym(library, name));
    return *f != nullptr;
}

const Aubio* OpenAubio()
{
    static std::once_flag once;
    static Aubio aubio;
    static bool found = false;
    std::call_once(once, [] {
        void* library = dlopen(kAubioLibrary, RTLD_NOW | RTLD_LOCAL);
        found = library && Find(library, "new_aubio_pitch", &aubio.newPitch) &&
                Find(library, "aubio_pitch_set_unit", &aubio.setUnit) &&
                Find(library, "aubio_pitch_do", &aubio.pitchDo) &&
                Find(library, "aubio_pitch_get_confidence", &aubio.confidence) &&
                Find(library, "del_aubio_pitch", &aubio.deletePitch) &&
                Find(library, "new_fvec", &aubio.newFvec) &&
                Find(library, "del_fvec", &aubio.deleteFvec);
        if (!found) {
            std::fprintf(stderr, "strellan: cannot open %s, so the pitch is not corrected\n",
                         kAubioLibrary);
            return;
        }
        /* Its first detector sets up what every later one shares: now,
           rather than on the way to a note. */
        if (aubio_pitch_t* first = aubio.newPitch("yinfast", kWindow, kWindow, 48000))
            aubio.deletePitch(first);
    });
    return found ? &aubio : nullptr;
}

} // namespace

double MeasurePitchHz(const float* samples, std::size_t count, double sampleRate, std::size_t start)
{
    const Aubio* a = OpenAubio();
    if (!a)
        return 0;
    const unsigned hop = kWindow;
    aubio_pitch_t* detector = a->newPitch("yinfast", kWindow, hop, static_cast<uint_t>(sampleRate));
    if (!detector)
        return 0;
    a->setUnit(detector, "Hz");
    fvec_t* in = a->newFvec(hop);
    fvec_t* out = a->newFvec(1);
    std::vector<double> found;
    for (std::size_t at = start; at + hop <= count; at += hop) {
        std::copy(samples + at, samples + at + hop, in->data);
        a->pitchDo(detector, in, out);
        if (out->data[0] > 0 && a->confidence(detector) > kPitchConfidence)
            found.push_back(out->data[0]);
    }
    a->deleteFvec(out);
    a->deleteFvec(in);
    a->deletePitch(detector);
    if (found.empty())
        return 0;
    std::nth_element(found.begin(), found.begin() + static_cast<long>(found.size() / 2),
                     found.end());
    return found[found.size() / 2];
}

std::string CacheDirectory()
{
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg == '/')
        return std::string(xdg) + "/strellan";
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return std::string(home) + "/.cache/strellan";
    return {};
}

PitchTable::PitchTable(const std::string& soundFont, double sampleRate, const std::string& cacheDir)
    : header_(TableHeader(soundFont, sampleRate))
{
    if (!cacheDir.empty()) {
        char name[32];
        std::snprintf(name, sizeof name, "pitch-%016llx",
                      static_cast<unsigned long long>(Fnv1a(header_)));
        path_ = cacheDir + "/" + name;
    }
}

bool PitchTable::Load()
{
    std::ifstream in(path_);
    if (path_.empty() || !in)
        return false;
    std::stringstream all;
    all << in.rdbuf();
    const std::string text = all.str();
    if (text.compare(0, header_.size(), header_) != 0)
        return false; /* another SoundFont's, an older version's, or not ours */

    std::map<Key, Cents> read;
    std::istringstream lines(text.substr(header_.size()));
    for (std::string line; std::getline(lines, line);) {
        Key k;
        Cents cents;
        if (!ParseEntry(line, &k, &cents))
            return false; /* corrupt: measured again, and rewritten */
        read[k] = cents;
    }
    entries_ = std::move(read);
    return true;
}

bool PitchTable::Save() const
{
    if (path_.empty())
        return false;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
    /* Written aside and renamed over: a reader, or another Strellan
       writing at once, never sees half a file. */
    const std::string temp = path_ + "." + std::to_string(getpid()) + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << header_;
        char value[32];
        for (const auto& [k, cents] : entries_) {
            if (cents)
                std::snprintf(value, sizeof value, "%.4f", *cents);
            else
                std::snprintf(value, sizeof value, "-");
            out << std::get<0>(k) << ' ' << std::get<1>(k) << ' ' << std::get<2>(k) << ' ' << value
                << '\n';
        }
        out.close();
        if (out && std::rename(temp.c_str(), path_.c_str()) == 0)
            return true;
    }
    const int error = errno;
    std::remove(temp.c_str());
    if (!saidCannotWrite_)
        std::fprintf(stderr, "strellan: cannot write the pitch cache %s: %s\n", path_.c_str(),
                     std::strerror(error));
    saidCannotWrite_ = true;
    return false;
}

PitchTable::Cents PitchTable::Get(Key k) const
{
    auto it = entries_.find(k);
    return it == entries_.end() ? std::nullopt : it->second;
}

PitchCorrection::PitchCorrection(const std::string& soundFont, double sampleRate,
                                 const std::string& cacheDir)
    : soundFont_(soundFont), rate_(sampleRate), table_(soundFont, sampleRate, cacheDir)
{
    /* Nothing known of this SoundFont yet: the measuring synthesizer now,
       beside the player's, rather than on the way to the first note. */
    if (!table_.Load())
        LoadMeter();
}

PitchCorrection::~PitchCorrection()
{
    if (meter_)
        delete_fluid_synth(meter_);
    if (meterSettings_)
        delete_fluid_settings(meterSettings_);
}

void PitchCorrection::LoadMeter()
{
    if (meterSettings_)
        return; /* loaded, or found not to load */
    OpenAubio();
    meterSettings_ = new_fluid_settings();
    fluid_settings_setnum(meterSettings_, "synth.sample-rate", rate_);
    fluid_settings_setint(meterSettings_, "synth.polyphony", 16);
    fluid_settings_setint(meterSettings_, "synth.dynamic-sample-loading", 1);
    fluid_settings_setint(meterSettings_, "synth.lock-memory", 0);
    fluid_settings_setint(meterSettings_, "synth.cpu-cores", 1);
    meter_ = new_fluid_synth(meterSettings_);
    if (meter_ && fluid_synth_sfload(meter_, soundFont_.c_str(), 0) == FLUID_FAILED) {
        delete_fluid_synth(meter_);
        meter_ = nullptr;
    }
}

PitchTable::Cents PitchCorrection::MeasureKey(PitchTable::Key key)
{
    const auto [bank, program, k] = key;
    LoadMeter();
    if (!meter_)
        return std::nullopt;
    const int frames = static_cast<int>(rate_ * kRenderSeconds);
    std::vector<float> left(static_cast<std::size_t>(frames)), right(left.size());
    fluid_synth_bank_select(meter_, 0, static_cast<unsigned>(bank));
    if (fluid_synth_program_change(meter_, 0, program) != FLUID_OK ||
        fluid_synth_noteon(meter_, 0, k, kMeasureVelocity) != FLUID_OK)
        return std::nullopt;
    fluid_synth_write_float(meter_, frames, left.data(), 0, 1, right.data(), 0, 1);
    fluid_synth_all_sounds_off(meter_, 0);
    /* The effects die away (below -80 dB within a second) before the
       next key is measured. */
    std::vector<float> tail(static_cast<std::size_t>(rate_ * kTailSeconds));
    fluid_synth_write_float(meter_, static_cast<int>(tail.size()), tail.data(), 0, 1, tail.data(),
                            0, 1);

    for (std::size_t i = 0; i < left.size(); ++i)
        left[i] += right[i];
    const double hz = MeasurePitchHz(left.data(), left.size(), rate_,
                                     static_cast<std::size_t>(rate_ * kAttackSeconds));
    if (hz <= 0)
        return std::nullopt;
    const double error = 1200.0 * std::log2(hz / EqualTemperamentHz(k));
    if (std::fabs(error) > kLargestErrorCents)
        return std::nullopt;
    return error;
}

PitchTable::Cents PitchCorrection::ErrorCents(int bank, int program, int key)
{
    const PitchTable::Key k{bank, program, key};
    if (!table_.Has(k)) {
        table_.Set(k, MeasureKey(k));
        table_.Save();
    }
    return table_.Get(k);
}

void PitchCorrection::BeforeNoteOn(fluid_synth_t* synth, int chan, int key)
{
    int sfont = 0, bank = 0, program = 0;
    if (chan < 0 || chan >= kMidiChannels ||
        fluid_synth_get_program(synth, chan, &sfont, &bank, &program) != FLUID_OK ||
        bank >= kDrumBank)
        return;
    const PitchTable::Cents error = ErrorCents(bank, program, key);
    if (!tuningMade_[chan]) {
        /* Equal temperament to begin with: the channel's own tuning. */
        fluid_synth_activate_key_tuning(synth, kTuningBank, chan, "Strellan", nullptr,
                                        kNewNotesOnly);
        tuningMade_[chan] = true;
    }
    /* FluidSynth renders a voice's pitch in whole cents (it drops the
       fraction on the way to the frequency), so the correction is the
       nearest whole cent: what remains is at most half a cent. */
    const double pitch = key * 100.0 - std::round(error.value_or(0.0));
    fluid_synth_tune_notes(synth, kTuningBank, chan, 1, &key, &pitch, kNewNotesOnly);
    fluid_synth_activate_tuning(synth, chan, kTuningBank, chan, kNewNotesOnly);
}

} // namespace strellan
