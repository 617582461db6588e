#include "platform/linux/winmm/pitch_correction.h"

#include <aubio/aubio.h>

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

/* aubio's YIN, as the sound tests use it, with a window long enough for
   the lowest string (F#1, 46 Hz: periods up to half the window) and one
   estimate a window. Its estimates count when it is this sure of them. */
constexpr unsigned kPitchWindow = 4096;
constexpr float kPitchConfidence = 0.9f;

/* An error larger than this is no error but a preset meant to sound at
   another pitch (or an octave the detector got wrong): left alone. */
constexpr double kLargestErrorCents = 50.0;

constexpr int kDrumBank = 128;
constexpr int kKeys = 128;
constexpr int kChannels = 16;
constexpr int kTuningBank = 0;   /* one tuning a channel: bank 0, program = channel */
constexpr int kNewNotesOnly = 0; /* a tuning change leaves sounding notes as they are */

constexpr const char* kCacheMagic = "Strellan pitch cache 1";

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
      << "method yinfast " << kPitchWindow << ' ' << kAttackSeconds << ' ' << kRenderSeconds << ' '
      << kMeasureVelocity << '\n';
    return h.str();
}

/* One entry: "bank program key cents", cents "-" for none. */
bool ParseEntry(const std::string& line, PitchTable::Key* key, std::optional<double>* cents)
{
    std::istringstream in(line);
    int bank = -1, program = -1, k = -1;
    std::string value;
    if (!(in >> bank >> program >> k >> value) || !(in >> std::ws).eof() || bank < 0 ||
        bank > 16383 || program < 0 || program > 127 || k < 0 || k > 127)
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

} // namespace

double MeasurePitchHz(const float* samples, std::size_t count, double sampleRate, std::size_t start)
{
    aubio_pitch_t* detector =
        new_aubio_pitch("yinfast", kPitchWindow, kPitchWindow, static_cast<uint_t>(sampleRate));
    if (!detector)
        return 0;
    aubio_pitch_set_unit(detector, "Hz");
    fvec_t* in = new_fvec(kPitchWindow);
    fvec_t* out = new_fvec(1);
    std::vector<double> found;
    for (std::size_t at = start; at + kPitchWindow <= count; at += kPitchWindow) {
        std::copy(samples + at, samples + at + kPitchWindow, in->data);
        aubio_pitch_do(detector, in, out);
        if (out->data[0] > 0 && aubio_pitch_get_confidence(detector) > kPitchConfidence)
            found.push_back(out->data[0]);
    }
    del_fvec(out);
    del_fvec(in);
    del_aubio_pitch(detector);
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

    std::map<Key, std::optional<double>> read;
    std::istringstream lines(text.substr(header_.size()));
    for (std::string line; std::getline(lines, line);) {
        Key k;
        std::optional<double> cents;
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

std::optional<double> PitchTable::Get(Key k) const
{
    auto it = entries_.find(k);
    return it == entries_.end() ? std::nullopt : it->second;
}

PitchCorrection::PitchCorrection(const std::string& soundFont, double sampleRate,
                                 const std::string& cacheDir)
    : soundFont_(soundFont), rate_(sampleRate), table_(soundFont, sampleRate, cacheDir)
{
    /* Nothing known of this SoundFont yet: have the measuring synthesizer
       ready for the first note, loaded beside everything else. */
    if (!table_.Load())
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
}

void PitchCorrection::StartWorker()
{
    if (!worker_.joinable())
        worker_ = std::thread(&PitchCorrection::Work, this);
}

/* The worker: loads the measuring synthesizer when there is something to
   measure (or, with nothing known yet, right away, so that it is ready for
   the first note), measures the urgent keys first, and once the queue runs
   dry saves the table and lets the synthesizer go. */
void PitchCorrection::Work()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        if (!meter_) {
            lock.unlock();
            LoadMeter();
            lock.lock();
        }
        bool measured = false;
        while (!stop_ && !jobs_.empty()) {
            Job job = jobs_.front();
            jobs_.pop_front();
            if (table_.Has(job.key))
                continue;
            busy_ = true;
            lock.unlock();
            MeasureWithMeter(job.key);
            lock.lock();
            busy_ = false;
            measured = true;
            changed_.notify_all();
        }
        if (measured) {
            table_.Save();
            dirty_ = false;
            lock.unlock();
            UnloadMeter();
            lock.lock();
        }
        changed_.notify_all();
        changed_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
    }
    if (dirty_)
        table_.Save();
    lock.unlock();
    UnloadMeter();
}

void PitchCorrection::LoadMeter()
{
    meterSettings_ = new_fluid_settings();
    fluid_settings_setnum(meterSettings_, "synth.sample-rate", rate_);
    fluid_settings_setint(meterSettings_, "synth.reverb.active", 0);
    fluid_settings_setint(meterSettings_, "synth.chorus.active", 0);
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
    malloc_trim(0);
}

/* On the worker's thread, without the lock: one key, rendered and
   measured, then entered in the table. */
void PitchCorrection::MeasureWithMeter(PitchTable::Key key)
{
    std::optional<double> cents;
    if (meter_) {
        const auto [bank, program, k] = key;
        const int frames = static_cast<int>(rate_ * kRenderSeconds);
        std::vector<float> left(static_cast<std::size_t>(frames)),
            right(static_cast<std::size_t>(frames));
        fluid_synth_bank_select(meter_, 0, static_cast<unsigned>(bank));
        if (fluid_synth_program_change(meter_, 0, program) == FLUID_OK &&
            fluid_synth_noteon(meter_, 0, k, kMeasureVelocity) == FLUID_OK) {
            fluid_synth_write_float(meter_, frames, left.data(), 0, 1, right.data(), 0, 1);
            for (std::size_t i = 0; i < left.size(); ++i)
                left[i] += right[i];
            const double hz = MeasurePitchHz(left.data(), left.size(), rate_,
                                             static_cast<std::size_t>(rate_ * kAttackSeconds));
            if (hz > 0) {
                const double error = 1200.0 * std::log2(hz / EqualTemperamentHz(k));
                if (std::fabs(error) <= kLargestErrorCents)
                    cents = error;
            }
        }
        fluid_synth_all_sounds_off(meter_, 0);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    table_.Set(key, cents);
    dirty_ = true;
}

std::optional<double> PitchCorrection::ErrorCents(int bank, int program, int key)
{
    const PitchTable::Key k{bank, program, key};
    std::unique_lock<std::mutex> lock(mutex_);
    if (!table_.Has(k)) {
        /* This key first, then the rest of the preset in the background. */
        jobs_.push_front({k, true});
        for (int other = 0; other < kKeys; ++other)
            if (other != key && !table_.Has({bank, program, other}))
                jobs_.push_back({{bank, program, other}, false});
        StartWorker();
        changed_.notify_all();
        changed_.wait(lock, [&] { return table_.Has(k) || stop_; });
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
