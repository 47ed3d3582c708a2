// Playback: the mix, buffers and channels on SDL's dummy and disk audio
// drivers, and the null sink that stands in when no device opens.
#include "alloc_watch.h"
#include "errors.h"
#include "folder.h"
#include "kivo_host.h"
#include "sandbox.h"
#include "sound.h"
#include "sound_internal.h"
#include "wav_test_util.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

using namespace wavtest;

namespace {

// Sets an environment variable for the scope, restoring it afterwards.
struct ENV_VAR
{
    ENV_VAR(const char* n, const char* value) : name(n), had(std::getenv(n) != nullptr)
    {
        saved = had ? std::getenv(n) : "";
        setenv(n, value, 1);
    }
    ~ENV_VAR() { had ? setenv(name, saved.c_str(), 1) : unsetenv(name); }
    const char* name;
    bool had;
    std::string saved;
};

// A record over the given stereo frames, playing at full volume, centred.
SOUND_RECORD make_record(std::vector<INT_S16>& frames, INT_U8 loop = 0)
{
    SOUND_RECORD r = {};
    r.samples = frames.data();
    r.frames = static_cast<INT_U32>(frames.size() / 2);
    r.playing = 1;
    r.loop = loop;
    r.volume = 256;
    return r;
}

// Samples of a busy wave (a low tone and a high one), one per channel of
// each frame, as 8-bit unsigned or 16-bit signed bytes.
std::string busy_wave(long frames, int channels, int bits)
{
    std::string out;
    for (long i = 0; i < frames * channels; ++i) {
        double v = 0.6 * std::sin(static_cast<double>(i) * 0.05) + 0.3 * std::sin(static_cast<double>(i) * 1.3);
        if (bits == 8) {
            out += static_cast<char>(128 + static_cast<int>(100 * v));
        } else {
            out += le(static_cast<INT_U16>(static_cast<INT_S16>(20000 * v)), 2);
        }
    }
    return out;
}

// SDL's converter run once over a whole sound, to 16-bit stereo.
std::vector<INT_S16> convert_in_one_piece(const std::string& pcm, int bits, int channels, int rate, int out_rate)
{
    SDL_AudioCVT cvt;
    if (SDL_BuildAudioCVT(&cvt, bits == 8 ? AUDIO_U8 : AUDIO_S16LSB, static_cast<Uint8>(channels), rate, AUDIO_S16SYS,
                          2, out_rate) < 0) {
        return {};
    }
    cvt.len = static_cast<int>(pcm.size());
    std::vector<Uint8> buf(pcm.size() * static_cast<size_t>(cvt.len_mult) + 16);
    std::memcpy(buf.data(), pcm.data(), pcm.size());
    cvt.buf = buf.data();
    if (SDL_ConvertAudio(&cvt) != 0) {
        return {};
    }
    std::vector<INT_S16> out(static_cast<size_t>(cvt.len_cvt) / 2);
    if (!out.empty()) {
        std::memcpy(out.data(), buf.data(), out.size() * 2);
    }
    return out;
}

TEST(SoundMix, GainsPansAndClamps)
{
    struct CASE
    {
        INT_S16 volume, balance, value;
        int copies;
        INT_S16 left, right;
    };
    const CASE cases[] = {
        {256, 0, 10000, 1, 10000, 10000}, {256, -127, 10000, 1, 10000, 0},      {256, 127, 10000, 1, 0, 10000},
        {128, 0, 10000, 1, 5000, 5000},   {256, -64, -10000, 1, -10000, -4961}, {0, 0, 10000, 1, 0, 0},
        {256, 0, 20000, 2, 32767, 32767}, {256, 0, -20000, 3, -32768, -32768},  {256, 0, -32768, 1, -32768, -32768},
    };
    for (const CASE& c : cases) {
        std::vector<std::vector<INT_S16>> data(static_cast<size_t>(c.copies), std::vector<INT_S16>(8, c.value));
        std::vector<SOUND_RECORD> recs;
        for (auto& d : data) {
            recs.push_back(make_record(d));
        }
        for (size_t i = 0; i < recs.size(); ++i) {
            recs[i].volume = c.volume;
            recs[i].balance = c.balance;
            recs[i].next = i + 1 < recs.size() ? &recs[i + 1] : nullptr;
        }
        std::vector<INT_S16> out(8, 1234);
        sound_mix(&recs[0], out.data(), 4);
        for (int f = 0; f < 4; ++f) {
            EXPECT_EQ(out[2 * f], c.left) << c.volume << " " << c.balance << " " << c.value;
            EXPECT_EQ(out[2 * f + 1], c.right) << c.volume << " " << c.balance << " " << c.value;
        }
    }
}

TEST(SoundMix, LoopsWrapAndOthersStop)
{
    std::vector<INT_S16> a = {1, -1, 2, -2, 3, -3}, b = {100, 100, 200, 200, 300, 300};
    SOUND_RECORD looping = make_record(a, 1), once = make_record(b), stopped = make_record(b);
    stopped.playing = 0;
    looping.next = &once;
    once.next = &stopped;
    // More frames than one internal block, so the wrap also crosses blocks.
    std::vector<INT_S16> out(2 * 1500, 7);
    sound_mix(&looping, out.data(), 1500);
    for (int f = 0; f < 1500; ++f) {
        int k = f % 3 + 1, extra = f < 3 ? 100 * (f + 1) : 0;
        ASSERT_EQ(out[2 * f], k + extra) << f;
        ASSERT_EQ(out[2 * f + 1], -k + extra) << f;
    }
    EXPECT_EQ(looping.position, 1500u % 3);
    EXPECT_EQ(once.position, 3u);
    EXPECT_EQ(stopped.position, 0u);
}

class SoundTest : public kivo_test::SandboxTest
{
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        // Each test starts with no buffer, so the output starts afresh.
        ASSERT_EQ(SOUND_BUFFER::instance_count, 0);
        ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
    }
    void TearDown() override
    {
        kivo_fake_clock_enable(0);
        SandboxTest::TearDown();
    }

    // A 16-bit stereo file of n frames at rate, constant per channel.
    void write_sound(const char* name, long n, INT_U32 rate = 22050, INT_S16 left = 8000, INT_S16 right = 8000)
    {
        ASSERT_TRUE(kivo_test::write_file(path(name), pcm_wav(2, rate, 16, constant_frames(n, left, right))));
    }

    // Services the buffers until done() holds, for at most 10 s.
    template <typename DONE> bool wait_for(DONE done)
    {
        for (int i = 0; i < 1000 && !done(); ++i) {
            SDL_Delay(10);
            check_playing_sound_buffers();
        }
        return done();
    }

    FOLDER folder;
};

TEST_F(SoundTest, VolumeAndPanAreClampedAndSurviveLoading)
{
    write_sound("a.wav", 100);
    SOUND_BUFFER b;
    struct CASE
    {
        INT_S16 volume, pan, gain, balance;
    };
    const CASE cases[] = {{150, -300, 256, -127}, {-5, 300, 0, 127}, {50, 50, 128, 63}, {100, -100, 256, -127}};
    for (const CASE& c : cases) {
        b.set_volume(c.volume);
        b.set_pan(c.pan);
        EXPECT_EQ(b.record->volume, c.gain) << c.volume;
        EXPECT_EQ(b.record->balance, c.balance) << c.pan;
    }
    b.set_volume(50);
    b.set_pan(-100);
    ASSERT_TRUE(b.load(folder, "a.wav"));
    EXPECT_EQ(b.record->volume, 128);
    EXPECT_EQ(b.record->balance, -127);
}

TEST_F(SoundTest, ManagerChannels)
{
    const INT_S16 asked[] = {0, 50, 7, -4}, got[] = {1, 20, 7, 1};
    for (int i = 0; i < 4; ++i) {
        SOUND_MANAGER m(asked[i]);
        EXPECT_EQ(m.count, got[i]) << asked[i];
        EXPECT_NE(m.get_buffer(m.count - 1), nullptr);
        EXPECT_EQ(m.get_buffer(m.count), nullptr);
        EXPECT_EQ(m.get_buffer(-1), nullptr);
    }

    write_sound("long.wav", 22050);
    SOUND_MANAGER m(2);
    EXPECT_EQ(m.play(folder, "long.wav", 100, 0, 1), 0);
    EXPECT_EQ(m.play(folder, "long.wav", 100, 0, 1), 1);
    EXPECT_EQ(m.play(folder, "long.wav", 100, 0, 1), -1);
    EXPECT_EQ(m.play(2, folder, "long.wav", 100, 0, 1), -1);
    EXPECT_EQ(m.play(-1, folder, "long.wav", 100, 0, 1), -1);
    EXPECT_TRUE(m.is_playing(0) && m.is_playing(1));
    m.stop(1);
    EXPECT_FALSE(m.is_playing(1));
    EXPECT_EQ(m.play(folder, "long.wav", 100, 0, 0), 1);
    EXPECT_EQ(m.play(1, folder, "missing.wav", 100, 0, 0), -1);
    EXPECT_FALSE(m.is_playing(1));
    m.stop(-1);
    EXPECT_FALSE(m.is_playing(0));
}

TEST_F(SoundTest, NullSinkFinishesAndLoopsByTheClock)
{
    ENV_VAR driver("SDL_AUDIODRIVER", "no-such-driver");
    kivo_fake_clock_enable(1);
    write_sound("short.wav", 4410); // 200 ms
    SOUND_BUFFER once, looping;
    looping.loop = 1;
    ASSERT_TRUE(once.load(folder, "short.wav"));
    ASSERT_TRUE(looping.load(folder, "short.wav"));
    once.platform_play();
    looping.platform_play();
    EXPECT_TRUE(sound_null_sink_active());
    EXPECT_FALSE(sound_device_open());

    kivo_fake_clock_advance_ms(150);
    check_playing_sound_buffers();
    EXPECT_TRUE(once.platform_is_playing());
    EXPECT_TRUE(looping.platform_is_playing());
    kivo_fake_clock_advance_ms(100);
    check_playing_sound_buffers();
    EXPECT_FALSE(once.platform_is_playing());
    EXPECT_EQ(once.record->playing, 0);
    EXPECT_TRUE(looping.platform_is_playing());
    EXPECT_EQ(looping.record->position, static_cast<INT_U32>(sound_output_rate() / 4) % looping.record->frames);
}

TEST_F(SoundTest, DiskDriverWritesAHardLeftPanAndLoops)
{
    std::string raw = path("out.raw");
    ENV_VAR driver("SDL_AUDIODRIVER", "disk");
    ENV_VAR file("SDL_DISKAUDIOFILE", raw.c_str());
    ASSERT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
    write_sound("tone.wav", 6615);  // 300 ms
    write_sound("short.wav", 1100); // 50 ms
    {
        SOUND_BUFFER looping; // silent, so the file shows the tone alone
        looping.loop = 1;
        looping.set_volume(0);
        ASSERT_TRUE(looping.load(folder, "short.wav"));
        looping.platform_play();
        SOUND_MANAGER m(1);
        ASSERT_EQ(m.play(0, folder, "tone.wav", 100, -100, 0), 0);
        ASSERT_TRUE(sound_device_open());
        ASSERT_TRUE(wait_for([&] { return !m.get_buffer(0)->record->playing; }));
        EXPECT_FALSE(m.is_playing(0));
        // Started first, so the looping one has passed its length too.
        EXPECT_TRUE(looping.platform_is_playing());
    } // the last buffer closes the device, which ends the file
    std::string bytes = kivo_test::read_file(raw);
    ASSERT_GE(bytes.size(), 4u * 6615);
    long loud_left = 0;
    auto sample = [&](size_t i) {
        return static_cast<INT_S16>(static_cast<INT_U8>(bytes[i]) | static_cast<INT_U8>(bytes[i + 1]) << 8);
    };
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        INT_S16 left = sample(i), right = sample(i + 2);
        ASSERT_EQ(right, 0) << i;
        loud_left += left > 7000 && left < 9000;
    }
    // Nearly all of the 300 ms at the output rate reached the left channel.
    EXPECT_GT(loud_left, sound_output_rate() * 3 / 10 * 9 / 10);
}

TEST_F(SoundTest, BuffersDestroyedWhileTheDeviceMixesThem)
{
    write_sound("loop.wav", 2205);
    SOUND_BUFFER keeper; // holds the device open throughout
    keeper.loop = 1;
    ASSERT_TRUE(keeper.load(folder, "loop.wav"));
    keeper.platform_play();
    ASSERT_TRUE(sound_device_open());
    for (int i = 0; i < 40; ++i) {
        auto b = std::make_unique<SOUND_BUFFER>();
        b->loop = 1;
        ASSERT_TRUE(b->load(folder, "loop.wav"));
        b->platform_play();
        SDL_Delay(static_cast<Uint32>(i % 4) * 5);
        check_playing_sound_buffers();
        EXPECT_TRUE(b->platform_is_playing());
    }
    EXPECT_EQ(SOUND_BUFFER::instance_count, 1);
}

TEST_F(SoundTest, BadFilesLeaveTheBufferUnloaded)
{
    write_sound("good.wav", 2205);
    // Converting 2000 frames at 1 Hz to the output rate would take over a
    // gigabyte.
    ASSERT_TRUE(kivo_test::write_file(path("slow.wav"), pcm_wav(1, 1, 8, std::string(2000, '\x80'))));
    // Found by fuzzing: 6.1 MHz overflowed SDL's converter set-up.
    ASSERT_TRUE(kivo_test::write_file(path("fast.wav"), pcm_wav(1, 6102848, 8, std::string(42, '\x7f'))));
    ASSERT_TRUE(kivo_test::write_file(path("text.wav"), "not a sound at all"));
    ASSERT_TRUE(kivo_test::write_file(path("nodata.wav"), riff({{"fmt ", fmt_body(1, 22050, 16)}})));
    int fd = open(path("big.wav").c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, (64 << 20) + 1), 0);
    close(fd);

    SOUND_BUFFER b;
    for (const char* name : {"slow.wav", "fast.wav", "text.wav", "nodata.wav", "big.wav", "missing.wav"}) {
        ASSERT_TRUE(b.load(folder, "good.wav"));
        EXPECT_FALSE(b.load(folder, name)) << name;
        EXPECT_FALSE(b.is_loaded()) << name;
        b.platform_play();
        EXPECT_FALSE(b.platform_is_playing()) << name;
    }
    EXPECT_FALSE(b.platform_load(nullptr));
    // A low rate that converts to a modest size still plays.
    ASSERT_TRUE(kivo_test::write_file(path("low.wav"), pcm_wav(1, 8000, 8, std::string(800, '\x90'))));
    EXPECT_TRUE(b.load(folder, "low.wav"));
    EXPECT_NEAR(b.record->frames, sound_output_rate() / 10, 2);
}

TEST_F(SoundTest, ResamplingKeepsEveryFrame)
{
    // Lengths around every multiple of 512 frames (where the last 512 were
    // lost) and long enough to need several pieces of the converter.
    std::vector<long> lengths = {1, 60000};
    for (long k = 1; k <= 40; ++k) {
        lengths.insert(lengths.end(), {512 * k - 1, 512 * k, 512 * k + 1});
    }
    struct FORMAT
    {
        int rate, channels, bits;
    };
    // 32 kHz lies two input frames from a shared instant: the filter's
    // reach past a piece shows there.
    const FORMAT formats[] = {{22050, 2, 16}, {32000, 1, 8}, {44100, 1, 16}, {96000, 2, 16}};
    for (const FORMAT& f : formats) {
        for (long n : lengths) {
            const std::string pcm = busy_wave(n, f.channels, f.bits);
            ASSERT_TRUE(kivo_test::write_file(path("s.wav"),
                                              pcm_wav(static_cast<INT_U16>(f.channels), static_cast<INT_U32>(f.rate),
                                                      static_cast<INT_U16>(f.bits), pcm)));
            SOUND_BUFFER b;
            ASSERT_TRUE(b.load(folder, "s.wav")) << f.rate << " Hz, " << n << " frames";
            const int out_rate = sound_output_rate();
            const std::vector<INT_S16> whole = convert_in_one_piece(pcm, f.bits, f.channels, f.rate, out_rate);
            // Up to the end of the last input frame; the one-piece result
            // rounds its length down.
            const long expected = static_cast<long>(
                (static_cast<INT_U64>(n) * static_cast<INT_U64>(out_rate) + static_cast<INT_U64>(f.rate) - 1) /
                static_cast<INT_U64>(f.rate));
            const long one_piece = static_cast<long>(whole.size() / 2);
            ASSERT_EQ(static_cast<long>(b.record->frames), expected) << f.rate << " Hz, " << n << " frames";
            ASSERT_TRUE(one_piece <= expected && one_piece + 2 >= expected) << one_piece << " of " << expected;
            int worst = 0;
            long at = -1;
            for (long i = 0; i < 2 * one_piece; ++i) {
                int d = std::abs(b.record->samples[i] - whole[static_cast<size_t>(i)]);
                if (d > worst) {
                    worst = d;
                    at = i / 2;
                }
            }
            ASSERT_LE(worst, 1) << f.rate << " Hz, " << n << " frames: frame " << at;
        }
    }
}

TEST_F(SoundTest, RatesNoSoundCardPlaysAreRefusedBeforeConverting)
{
    // Found by fuzzing: 77 bytes at 1 Hz had the converter ask for 196 MB.
    const std::string tiny = riff({{"fmt ", fmt_body(1, 1, 8)}, {"data", std::string(33, '\x80'), ~0u, false}});
    ASSERT_EQ(tiny.size(), 77u);
    struct CASE
    {
        const char* what;
        std::string bytes;
        bool plays;
    };
    const CASE cases[] = {
        {"1 Hz", tiny, false},
        {"999 Hz", pcm_wav(1, 999, 8, busy_wave(999, 1, 8)), false},
        {"1000 Hz", pcm_wav(8, 1000, 8, busy_wave(1000, 8, 8)), true},
        {"768000 Hz", pcm_wav(2, 768000, 16, busy_wave(20000, 2, 16)), true},
        {"768001 Hz", pcm_wav(2, 768001, 16, busy_wave(20000, 2, 16)), false},
    };
    for (const CASE& c : cases) {
        ASSERT_TRUE(kivo_test::write_file(path("rate.wav"), c.bytes));
        WAV_DEBUG_CAPTURE capture;
        set_error_code(ERRCODE_NONE, nullptr);
        SOUND_BUFFER b;
        bool loaded = false;
        long long largest = kivo_test::largest_allocation([&] { loaded = b.load(folder, "rate.wav"); });
        EXPECT_EQ(loaded, c.plays) << c.what;
        EXPECT_LT(largest, 16 << 20) << c.what;
        if (c.plays) {
            continue;
        }
        EXPECT_EQ(current_error_code, ERRCODE_FILE_READ) << c.what;
        EXPECT_NE(wav_console.find("rate.wav not converted"), std::string::npos) << wav_console;
        EXPECT_NE(wav_console.find("sample rate is outside 1000 to 768000 Hz"), std::string::npos) << wav_console;
    }
}

// 4-bit ADPCM decodes to four times its size: a file within the size limit
// whose samples would not be is refused before it is decoded, and a small
// one still plays.
TEST_F(SoundTest, CompressedSamplesAreMeasuredBeforeDecoding)
{
    // IMA ADPCM, mono, 1024-byte blocks of 2041 samples; zero bytes are
    // valid blocks of silence.
    auto ima = [](long blocks) {
        const std::string fmt =
            le(0x11, 2) + le(1, 2) + le(22050, 4) + le(11100, 4) + le(1024, 2) + le(4, 2) + le(2, 2) + le(2041, 2);
        return riff({{"fmt ", fmt}, {"data", std::string(static_cast<std::size_t>(blocks) * 1024, '\0')}});
    };
    struct CASE
    {
        long blocks;
        bool plays;
    };
    for (const CASE& c : {CASE{4, true}, CASE{17 * 1024, false}}) {
        ASSERT_TRUE(kivo_test::write_file(path("ima.wav"), ima(c.blocks)));
        WAV_DEBUG_CAPTURE capture;
        SOUND_BUFFER b;
        bool loaded = false;
        long long largest = kivo_test::largest_allocation([&] { loaded = b.load(folder, "ima.wav"); });
        EXPECT_EQ(loaded, c.plays) << c.blocks;
        EXPECT_LT(largest, 24 << 20) << c.blocks;
        if (!c.plays) {
            EXPECT_NE(wav_console.find("decoded, it would take more than 64 MiB"), std::string::npos) << wav_console;
        }
    }
}

TEST_F(SoundTest, ForgedChunkLengthsCostNoMemory)
{
    // Found by fuzzing: a data chunk that claims 3.5 GB in a 136-byte file.
    const char* hex = "524946465a00000057415645666d74201200000001000100401f0000803e00000200100000004c495354030000"
                      "006162630064617461280000d6feffff037f7f7f7f7f7ffe7f00007f7f7f7f8080807f7f7f7e7e7e7f7f7f7f7f"
                      "7f7f7f232402030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1efe7f00002324252526272627";
    std::string found;
    for (const char* p = hex; p[0] && p[1]; p += 2) {
        found += static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16));
    }
    // Also found: the same claim in a file without its RIFF header, which
    // SDL reads from the "WAVE" on.
    std::string headless =
        riff({{"fmt ", fmt_body(1, 8000, 16)}, {"data", std::string(78, 'x'), 0xFFFFFFE9u}}).substr(8);

    for (const std::string& bytes : {found, headless}) {
        ASSERT_TRUE(kivo_test::write_file(path("forged.wav"), bytes));
        SOUND_BUFFER b;
        bool loaded = false;
        EXPECT_LT(kivo_test::largest_allocation([&] { loaded = b.load(folder, "forged.wav"); }), 1 << 20);
        // The 78 bytes the data chunk really holds are 39 frames at 8 kHz.
        ASSERT_TRUE(loaded);
        EXPECT_NEAR(b.record->frames, 39.0 * sound_output_rate() / 8000, 8);
    }
}

} // namespace
