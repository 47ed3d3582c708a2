// The RIFF chunk walker on hand-built files, and the note synthesiser read
// back through SDL's own WAV loader.
#include "data_file.h"
#include "folder.h"
#include "memory_data_device.h"
#include "sandbox.h"
#include "sound.h"
#include "sound_internal.h"
#include "wav_test_util.h"

#include <SDL.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <unistd.h>

using namespace wavtest;

namespace {

const std::string kFmt = fmt_body(1, 22050, 16);

TEST(WavReader, WalksChunks)
{
    struct CASE
    {
        const char* what;
        std::string bytes;
        bool ok;
        INT_U32 length, offset;
    };
    const std::string lone_header = "RIFF" + le(4, 4) + "WAVE";
    const CASE cases[] = {
        {"plain", pcm_wav(1, 22050, 16, "abcd"), true, 4, 44},
        {"18-byte format chunk", riff({{"fmt ", kFmt + "xx"}, {"data", "abcd"}}), true, 4, 46},
        {"short format chunk", riff({{"fmt ", kFmt.substr(0, 14)}, {"data", "abcd"}}), false, 0, 0},
        {"format cut by the end", riff({{"fmt ", kFmt.substr(0, 10), 16}}), false, 0, 0},
        {"two data chunks", riff({{"fmt ", kFmt}, {"data", "abcd"}, {"data", "efghij"}}), true, 4, 44},
        {"odd LIST before data", riff({{"fmt ", kFmt}, {"LIST", "abc"}, {"data", "abcd"}}), true, 4, 56},
        {"trailing bytes", pcm_wav(1, 22050, 16, "abcd") + "xyz", true, 4, 44},
        {"odd last data chunk, no pad", riff({{"fmt ", kFmt}, {"data", "abc", ~0u, false}}), true, 3, 44},
        {"data length past the end", riff({{"fmt ", kFmt}, {"data", "abcd", 1000}}), true, 4, 44},
        {"no WAVE mark", riff({{"fmt ", kFmt}, {"data", "abcd"}}, "WAVX"), false, 0, 0},
        {"no RIFF mark", "RIFX" + pcm_wav(1, 22050, 16, "abcd").substr(4), false, 0, 0},
        {"no data chunk", riff({{"fmt ", kFmt}}), false, 0, 0},
        {"no format chunk", riff({{"data", "abcd"}}), false, 0, 0},
        {"header only", lone_header, false, 0, 0},
        {"empty", "", false, 0, 0},
    };
    for (const CASE& c : cases) {
        kivo_test::MEMORY_DATA_DEVICE d(c.bytes);
        SOUND_BUFFER::SOUND_WAV wav = {};
        EXPECT_EQ(SOUND_BUFFER::load_wav_file(d, wav), c.ok) << c.what;
        if (!c.ok) {
            continue;
        }
        EXPECT_EQ(wav.data_length, c.length) << c.what;
        EXPECT_EQ(wav.data_offset, c.offset) << c.what;
        EXPECT_EQ(wav.channels, 1) << c.what;
        EXPECT_EQ(wav.sample_rate, 22050u) << c.what;
        EXPECT_EQ(wav.bits_per_sample, 16) << c.what;
        EXPECT_EQ(wav.block_align, 2) << c.what;
    }
}

TEST(WavReader, ReportsOnlyThroughItsDebugChannel)
{
    // Standard output goes to a file for the read: trailing bytes used to
    // be printed there.
    std::fflush(stdout);
    std::FILE* sink = std::tmpfile();
    ASSERT_NE(sink, nullptr);
    int saved = dup(1);
    ASSERT_GE(saved, 0);
    ASSERT_EQ(dup2(fileno(sink), 1), 1);
    bool read;
    {
        WAV_DEBUG_CAPTURE capture;
        kivo_test::MEMORY_DATA_DEVICE d(pcm_wav(1, 22050, 16, "abcd") + "xy\xFE");
        SOUND_BUFFER::SOUND_WAV wav = {};
        read = SOUND_BUFFER::load_wav_file(d, wav);
        std::fflush(stdout);
    }
    dup2(saved, 1);
    close(saved);
    EXPECT_TRUE(read);
    EXPECT_EQ(std::ftell(sink), 0L);
    std::fclose(sink);
    EXPECT_NE(wav_console.find("trailing bytes at end of file)\n\t0x78 0x79 0xFE \n"), std::string::npos)
        << wav_console;
}

class WavFileTest : public kivo_test::SandboxTest
{
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
    }

    // Generates name and reads it back with SDL's loader into spec and
    // samples; false when either step fails.
    bool synth(const char* notes, INT_U32 tempo, const WAV_SETTINGS* s, SDL_AudioSpec* spec, std::string* pcm)
    {
        if (!SOUND_BUFFER::generate_wav_file(folder, "out.wav", notes, tempo, s)) {
            return false;
        }
        Uint8* buf = nullptr;
        Uint32 len = 0;
        if (!SDL_LoadWAV(path("out.wav").c_str(), spec, &buf, &len)) {
            return false;
        }
        pcm->assign(reinterpret_cast<char*>(buf), len);
        SDL_FreeWAV(buf);
        return true;
    }

    static std::vector<int> samples16(const std::string& pcm)
    {
        std::vector<int> out(pcm.size() / 2);
        for (size_t i = 0; i < out.size(); ++i) {
            out[i] = static_cast<INT_S16>(static_cast<INT_U8>(pcm[2 * i]) | static_cast<INT_U8>(pcm[2 * i + 1]) << 8);
        }
        return out;
    }

    // Sign changes, zeros skipped.
    static int crossings(const std::vector<int>& v, size_t from = 0, size_t to = ~size_t(0))
    {
        int n = 0, last = 0;
        for (size_t i = from; i < std::min(to, v.size()); ++i) {
            int sign = (v[i] > 0) - (v[i] < 0);
            if (sign && last && sign != last) {
                ++n;
            }
            if (sign) {
                last = sign;
            }
        }
        return n;
    }

    FOLDER folder;
};

TEST_F(WavFileTest, NotesGiveTheirPitchAndLength)
{
    struct CASE
    {
        const char* notes;
        double hz;
    };
    const CASE cases[] = {
        {"C", 644.0}, {"c", 322.0}, {"O3A", 161.0 * 8 * 5 / 3}, {"D#", 644.0 * 19 / 16}, {"O1b", 161.0 * 15 / 8},
    };
    for (const CASE& c : cases) {
        SDL_AudioSpec spec;
        std::string pcm;
        ASSERT_TRUE(synth(c.notes, 1000, nullptr, &spec, &pcm)) << c.notes;
        EXPECT_EQ(spec.freq, 22050) << c.notes;
        EXPECT_EQ(spec.channels, 1) << c.notes;
        EXPECT_EQ(spec.format, AUDIO_S16LSB) << c.notes;
        std::vector<int> v = samples16(pcm);
        ASSERT_EQ(v.size(), 22050u) << c.notes;
        EXPECT_NEAR(crossings(v), 2 * c.hz, 2 * c.hz * 0.01 + 2) << c.notes;
    }
    SDL_AudioSpec spec;
    std::string pcm;
    ASSERT_TRUE(synth("9&1C", 500, nullptr, &spec, &pcm));
    std::vector<int> v = samples16(pcm);
    // 2 s of rest, then 0.125 s (2756.25 samples, so 2757) of C.
    ASSERT_EQ(v.size(), 44100u + 2757u);
    for (size_t i = 0; i < 44100; ++i) {
        ASSERT_EQ(v[i], 0) << i;
    }
    EXPECT_NEAR(crossings(v, 44100), 2 * 644.0 * 0.125, 4);
}

TEST_F(WavFileTest, SampleFormats)
{
    struct CASE
    {
        INT_U8 stereo, bits16;
        const char* notes;
        Uint16 format;
        Uint32 bytes;
    };
    // "1C" at tempo 1000 is 0.25 s: 5512.5, so 5513 samples (odd).
    const CASE cases[] = {
        {0, 1, "C", AUDIO_S16LSB, 44100}, {1, 1, "C", AUDIO_S16LSB, 88200}, {0, 0, "C", AUDIO_U8, 22050},
        {1, 0, "C", AUDIO_U8, 44100},     {0, 0, "1C", AUDIO_U8, 5513},     {1, 0, "1C", AUDIO_U8, 11026},
    };
    for (const CASE& c : cases) {
        WAV_SETTINGS s;
        s.stereo = c.stereo;
        s.sixteen_bit = c.bits16;
        SDL_AudioSpec spec;
        std::string pcm;
        ASSERT_TRUE(synth(c.notes, 1000, &s, &spec, &pcm)) << int(c.stereo) << int(c.bits16) << c.notes;
        EXPECT_EQ(spec.format, c.format);
        EXPECT_EQ(spec.channels, c.stereo ? 2 : 1);
        EXPECT_EQ(pcm.size(), c.bytes);
        size_t frame = (c.stereo ? 2 : 1) * (c.bits16 ? 2 : 1), half = frame / 2;
        if (c.stereo) {
            for (size_t i = 0; i + frame <= pcm.size(); i += frame) {
                ASSERT_EQ(pcm.compare(i, half, pcm, i + half, half), 0) << i;
            }
        }
        if (!c.bits16 && std::string(c.notes) == "C") {
            // 8-bit samples centre on 127 and swing both ways.
            auto [lo, hi] =
                std::minmax_element(pcm.begin(), pcm.end(), [](char a, char b) { return INT_U8(a) < INT_U8(b); });
            EXPECT_LT(INT_U8(*lo), 40);
            EXPECT_GT(INT_U8(*hi), 210);
        }
    }
}

TEST_F(WavFileTest, EmptyNotesGiveTheHeaderOnly)
{
    ASSERT_EQ(SOUND_BUFFER::generate_wav_file(folder, "empty.wav", "", 1000, nullptr), 1);
    std::string bytes = kivo_test::read_file(path("empty.wav"));
    EXPECT_EQ(bytes, pcm_wav(1, 22050, 16, ""));
    // Characters that are no notes, and pairs that make nothing, add nothing.
    ASSERT_EQ(SOUND_BUFFER::generate_wav_file(folder, "none.wav", "xE#B#&#O!", 1000, nullptr), 1);
    EXPECT_EQ(kivo_test::read_file(path("none.wav")), bytes);
}

TEST_F(WavFileTest, ReaderAcceptsGeneratedFiles)
{
    WAV_SETTINGS s;
    s.sixteen_bit = 0;
    ASSERT_EQ(SOUND_BUFFER::generate_wav_file(folder, "odd.wav", "1C", 1000, &s), 1);
    DATA_FILE* f = folder.open_data_file("odd.wav", fm_read, 0);
    ASSERT_NE(f, nullptr);
    SOUND_BUFFER::SOUND_WAV wav = {};
    EXPECT_TRUE(SOUND_BUFFER::load_wav_file(f, wav));
    EXPECT_EQ(wav.data_length, 5513u);
    EXPECT_EQ(wav.data_offset, 44u);
    EXPECT_EQ(wav.bits_per_sample, 8);
    EXPECT_FALSE(SOUND_BUFFER::save_wav_file(f, wav));
    folder.close(f);
    EXPECT_FALSE(SOUND_BUFFER::load_wav_file(static_cast<DATA_FILE*>(nullptr), wav));
}

TEST_F(WavFileTest, LoneOctaveMarkIsSkipped)
{
    std::string plain;
    ASSERT_EQ(SOUND_BUFFER::generate_wav_file(folder, "c.wav", "C", 1000, nullptr), 1);
    plain = kivo_test::read_file(path("c.wav"));
    // Exact-size heap copies: reading past the NUL would show under ASan.
    for (const char* notes : {"CO", "OC", "COx"}) {
        std::vector<char> text(notes, notes + std::strlen(notes) + 1);
        ASSERT_EQ(SOUND_BUFFER::generate_wav_file(folder, "o.wav", text.data(), 1000, nullptr), 1) << notes;
        EXPECT_EQ(kivo_test::read_file(path("o.wav")), plain) << notes;
    }
}

TEST_F(WavFileTest, ZeroDecayTurnsTheTremoloOff)
{
    WAV_SETTINGS s;
    s.decay = 0;
    ASSERT_EQ(SOUND_BUFFER::generate_wav_file(folder, "flat.wav", "C", 1000, &s), 1);
    s.tremolo = 1;
    ASSERT_EQ(SOUND_BUFFER::generate_wav_file(folder, "trem.wav", "C", 1000, &s), 1);
    std::string flat = kivo_test::read_file(path("flat.wav"));
    EXPECT_EQ(kivo_test::read_file(path("trem.wav")), flat);
    // And the sustain really sounds.
    EXPECT_GT(crossings(samples16(flat.substr(44))), 1200);
}

TEST(WavSamples, Conversion)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct CASE
    {
        double v;
        int s16, u8;
    };
    const CASE cases[] = {
        {0.0, 0, 127},         {100.9, 100, 227},   {-100.9, -100, 27}, {127.0, 127, 254},     {127.5, 127, 254},
        {-127.9, -127, 0},     {-128.0, -128, 0},   {-128.5, -128, 0},  {32767.5, 32767, 254}, {-32768.0, -32768, 0},
        {-40000.0, -32768, 0}, {1e300, 32767, 254}, {nan, 0, 127},
    };
    for (const CASE& c : cases) {
        EXPECT_EQ(wav_sample_16(c.v), c.s16) << c.v;
        EXPECT_EQ(wav_sample_8(c.v), c.u8) << c.v;
    }
}

TEST_F(WavFileTest, FailedWritesReturnZero)
{
    FOLDER dev;
    ASSERT_TRUE(dev.set_from_path_string("/dev"));
    // /dev/full takes the open and refuses the data: a short sound fails at
    // the close, a long one (beyond the file cache) while it is written.
    EXPECT_EQ(SOUND_BUFFER::generate_wav_file(dev, "full", "C", 100, nullptr), 0);
    EXPECT_EQ(SOUND_BUFFER::generate_wav_file(dev, "full", "9C", 10000, nullptr), 0);
    EXPECT_EQ(SOUND_BUFFER::generate_wav_file(folder, "no/such/folder.wav", "C", 100, nullptr), 0);
    // More data than the header's 32-bit length can give is refused before
    // it is rendered.
    EXPECT_EQ(SOUND_BUFFER::generate_wav_file(folder, "huge.wav", "9C", 0xFFFFFFFFu, nullptr), 0);
}

} // namespace
