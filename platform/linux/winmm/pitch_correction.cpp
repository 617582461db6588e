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
#include <malloc.h>
#include <sstream>
#include <sys/resource.h>
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

/* The worker measures at leisure, when nothing else wants the processor. */
constexpr int kWorkerNiceness = 19;

/* aubio's YIN, as the sound tests use it: a window long enough for the
   lowest string (F#1, 46 Hz: periods up to half the window), estimates
   that count when it is this sure of them. Quick: a smaller window, one
   estimate each; at leisure: the tests' own. */
constexpr unsigned kQuickWindow = 4096;
constexpr unsigned kWindow = 8192;
constexpr unsigned kHop = 512;
constexpr float kPitchConfidence = 0.9f;

/* An error larger than this is no error but a preset meant to sound at
   another pitch (or an octave the detector got wrong): left alone. */
constexpr double kLargestErrorCents = 50.0;

constexpr int kDrumBank = 128;
constexpr int kKeys = 128;
constexpr int kChannels = 16;
constexpr int kTuningBank = 0;   /* one tuning a channel: bank 0, program = channel */
constexpr int kNewNotesOnly = 0; /* a tuning change leaves sounding notes as they are */

constexpr const char* kCacheMagic = "Strellan pitch cache 2";

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
      << "method yinfast " << kWindow << '/' << kHop << ' ' << kAttackSeconds << ' '
      << kRenderSeconds << ' ' << kMeasureVelocity << " with effects\n";
    return h.str();
}

/* One entry: "bank program key cents", cents "-" for none, and "quick"
   after a quick measurement. */
bool ParseEntry(const std::string& line, PitchTable::Key* key, PitchTable::Entry* entry)
{
    std::istringstream in(line);
    int bank = -1, program = -1, k = -1;
    std::string value, how;
    if (!(in >> bank >> program >> k >> value) || bank < 0 || bank > 16383 || program < 0 ||
        program > 127 || k < 0 || k > 127)
        return false;
    entry->quick = bool(in >> how);
    if ((entry->quick && how != "quick") || !(in >> std::ws).eof())
        return false;
    *key = {bank, program, k};
    if (value == "-") {
        entry->cents = std::nullopt;
        return true;
    }
    char* end = nullptr;
    double v = std::strtod(value.c_str(), &end);
    if (*end != '\0' || !std::isfinite(v) || std::fabs(v) > kLargestErrorCents)
        return false;
    entry->cents = v;
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
        for (unsigned window : {kQuickWindow, kWindow})
            if (aubio_pitch_t* first = aubio.newPitch("yinfast", window, window, 48000))
                aubio.deletePitch(first);
    });
    return found ? &aubio : nullptr;
}

} // namespace

double MeasurePitchHz(const float* samples, std::size_t count, double sampleRate, std::size_t start,
                      bool quick)
{
    const Aubio* a = OpenAubio();
    if (!a)
        return 0;
    const unsigned window = quick ? kQuickWindow : kWindow, hop = quick ? kQuickWindow : kHop;
    aubio_pitch_t* detector = a->newPitch("yinfast", window, hop, static_cast<uint_t>(sampleRate));
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

    std::map<Key, Entry> read;
    std::istringstream lines(text.substr(header_.size()));
    for (std::string line; std::getline(lines, line);) {
        Key k;
        Entry entry;
        if (!ParseEntry(line, &k, &entry))
            return false; /* corrupt: measured again, and rewritten */
        read[k] = entry;
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
        for (const auto& [k, entry] : entries_) {
            if (entry.cents)
                std::snprintf(value, sizeof value, "%.4f", *entry.cents);
            else
                std::snprintf(value, sizeof value, "-");
            out << std::get<0>(k) << ' ' << std::get<1>(k) << ' ' << std::get<2>(k) << ' ' << value
                << (entry.quick ? " quick" : "") << '\n';
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

bool PitchTable::HasPrecise(Key k) const
{
    auto it = entries_.find(k);
    return it != entries_.end() && !it->second.quick;
}

std::optional<double> PitchTable::Get(Key k) const
{
    auto it = entries_.find(k);
    return it == entries_.end() ? std::nullopt : it->second.cents;
}

PitchCorrection::PitchCorrection(const std::string& soundFont, double sampleRate,
                                 const std::string& cacheDir)
    : soundFont_(soundFont), rate_(sampleRate), table_(soundFont, sampleRate, cacheDir)
{
    /* Nothing known of this SoundFont yet: have the measuring synthesizer
       ready for the first note, loaded beside everything else. Known only
       quickly: measured again, at leisure. */
    if (!table_.Load()) {
        StartWorker();
        return;
    }
    for (const auto& [k, entry] : table_.entries())
        if (entry.quick)
            QueuePreset(std::get<0>(k), std::get<1>(k));
    if (!jobs_.empty())
        StartWorker();
}

PitchCorrection::~PitchCorrection()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable())
        worker_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    if (dirty_)
        table_.Save();
    UnloadMeter();
}

void PitchCorrection::StartWorker()
{
    if (!worker_.joinable())
        worker_ = std::thread(&PitchCorrection::Work, this);
}

/* Every key of a preset not yet measured at leisure, at the back of the
   queue. */
void PitchCorrection::QueuePreset(int bank, int program)
{
    for (int key = 0; key < kKeys; ++key)
        if (!table_.HasPrecise({bank, program, key}))
            jobs_.push_back({bank, program, key});
}

/* The worker: with nothing known yet, loads the measuring synthesizer for
   the first note; measures the queue's keys at leisure; once the queue runs
   dry, saves the table and lets the synthesizer go. */
void PitchCorrection::Work()
{
    /* Behind everything else in the queue for the processor. */
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kWorkerNiceness);
    std::unique_lock<std::mutex> lock(mutex_);
    if (table_.size() == 0 && jobs_.empty()) {
        lock.unlock();
        {
            std::lock_guard<std::mutex> meter(meterMutex_);
            LoadMeter();
        }
        lock.lock();
    }
    while (!stop_) {
        bool measured = false;
        while (!stop_ && !jobs_.empty()) {
            const PitchTable::Key key = jobs_.front();
            jobs_.pop_front();
            if (table_.HasPrecise(key))
                continue;
            busy_ = true;
            lock.unlock();
            std::optional<std::optional<double>> cents = MeasureKey(key, false);
            lock.lock();
            busy_ = false;
            if (!cents) {
                jobs_.push_front(key); /* a note came first: again */
                continue;
            }
            table_.Set(key, {*cents, false});
            dirty_ = measured = true;
        }
        if (measured) {
            table_.Save();
            dirty_ = false;
            lock.unlock();
            {
                std::lock_guard<std::mutex> meter(meterMutex_);
                UnloadMeter();
            }
            lock.lock();
        }
        changed_.notify_all();
        changed_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
    }
}

void PitchCorrection::LoadMeter()
{
    if (meter_)
        return;
    OpenAubio(); /* now, rather than on the way to a note */
    /* As the player's synthesizer sounds, effects and all: a preset's
       chorus moves the pitch that the ear (and the detector) hears. */
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

/* The memory that the measuring synthesizer held goes back to the system. */
void PitchCorrection::UnloadMeter()
{
    if (meter_)
        delete_fluid_synth(meter_);
    if (meterSettings_)
        delete_fluid_settings(meterSettings_);
    meter_ = nullptr;
    meterSettings_ = nullptr;
    tailPending_ = false;
    malloc_trim(0);
}

std::optional<std::optional<double>> PitchCorrection::MeasureKey(PitchTable::Key key, bool quick)
{
    const auto [bank, program, k] = key;
    const int frames = static_cast<int>(rate_ * kRenderSeconds);
    std::vector<float> left(static_cast<std::size_t>(frames)), right(left.size());
    {
        std::lock_guard<std::mutex> lock(meterMutex_);
        LoadMeter();
        if (!meter_)
            return std::optional<double>();
        /* The last key's effects die away first (below -80 dB within a
           second): left until now, off a quick measurement's way. */
        if (tailPending_) {
            std::vector<float> tail(static_cast<std::size_t>(rate_ * kTailSeconds));
            fluid_synth_write_float(meter_, static_cast<int>(tail.size()), tail.data(), 0, 1,
                                    tail.data(), 0, 1);
            tailPending_ = false;
        }
        /* Quickly: dry, which renders in half the time; the effects'
           part comes with the measurement at leisure. */
        fluid_synth_reverb_on(meter_, -1, !quick);
        fluid_synth_chorus_on(meter_, -1, !quick);
        fluid_synth_bank_select(meter_, 0, static_cast<unsigned>(bank));
        if (fluid_synth_program_change(meter_, 0, program) != FLUID_OK ||
            fluid_synth_noteon(meter_, 0, k, kMeasureVelocity) != FLUID_OK)
            return std::optional<double>();
        tailPending_ = true;
        /* At leisure, a tenth of a second at a time: a note that waits for
           a measurement of its own goes first, and this one comes again. */
        const int step = quick ? frames : static_cast<int>(rate_ / 10);
        for (int done = 0; done < frames; done += step) {
            if (!quick && urgent_ > 0) {
                fluid_synth_all_sounds_off(meter_, 0);
                return std::nullopt;
            }
            const int n = std::min(step, frames - done);
            fluid_synth_write_float(meter_, n, left.data() + done, 0, 1, right.data() + done, 0, 1);
        }
        fluid_synth_all_sounds_off(meter_, 0);
    }
    for (std::size_t i = 0; i < left.size(); ++i)
        left[i] += right[i];
    const double hz = MeasurePitchHz(left.data(), left.size(), rate_,
                                     static_cast<std::size_t>(rate_ * kAttackSeconds), quick);
    if (hz <= 0)
        return std::optional<double>();
    const double error = 1200.0 * std::log2(hz / EqualTemperamentHz(k));
    if (std::fabs(error) > kLargestErrorCents)
        return std::optional<double>();
    return std::optional<double>(error);
}

std::optional<double> PitchCorrection::ErrorCents(int bank, int program, int key)
{
    const PitchTable::Key k{bank, program, key};
    std::unique_lock<std::mutex> lock(mutex_);
    if (!table_.Has(k)) {
        /* This key now, quickly, for the note that waits; then the whole
           preset at leisure, this key among them, once the note is on its
           way (the worker would hold the measuring synthesizer meanwhile). */
        lock.unlock();
        ++urgent_;
        std::optional<double> cents = MeasureKey(k, true).value_or(std::nullopt);
        --urgent_;
        lock.lock();
        if (!table_.HasPrecise(k)) {
            table_.Set(k, {cents, true});
            dirty_ = true;
        }
        QueuePreset(bank, program);
        StartWorker();
        changed_.notify_all();
    }
    return table_.Get(k);
}

void PitchCorrection::BeforeNoteOn(fluid_synth_t* synth, int chan, int key)
{
    int sfont = 0, bank = 0, program = 0;
    if (chan < 0 || chan >= kChannels ||
        fluid_synth_get_program(synth, chan, &sfont, &bank, &program) != FLUID_OK ||
        bank >= kDrumBank)
        return;
    std::optional<double> error = ErrorCents(bank, program, key);
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

void PitchCorrection::Settle()
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return stop_ || (jobs_.empty() && !busy_ && !dirty_); });
}

} // namespace strellan
