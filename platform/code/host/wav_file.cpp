// WAV files: the RIFF chunk walker and the note synthesiser that writes PCM
// WAV files.
#include "sound.h"

#include "data_device.h"
#include "data_file.h"
#include "debug_stream.h"
#include "errors.h"
#include "folder.h"
#include "sound_internal.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

void report(INT_U16 code, const char* argument, int line)
{
    set_error_code(code, argument);
    if (platform_debug_stream.flags) {
        platform_debug_stream.write_to_stream("wav_file", line, get_error_text(), 1);
    }
}

// Moves the device on by n bytes, never past its end; false when the
// device refuses the position.
bool skip_bytes(DATA_DEVICE& d, long n, long end)
{
    long pos = d.get_pos();
    long target = n < end - pos ? pos + n : std::max(pos, end);
    return d.set_pos(target, 0) == target;
}

// Duration in seconds of a note of length index 0..9 at tempo T ms.
double note_seconds(int index, double tempo)
{
    static const double factor[10] = {1.0, 0.25, 0.375, 0.5, 0.75, 1.0, 1.5, 2.0, 3.0, 4.0};
    return factor[index] * tempo / 1000.0;
}

// Frequency ratio of a note letter (upper case) to the base, sharp or not;
// 0 for a pair that produces nothing (E#, B#).
double note_ratio(char letter, bool sharp)
{
    struct RATIO
    {
        char letter;
        double plain, sharp;
    };
    static const RATIO ratios[] = {
        {'C', 1.0, 17.0 / 16},     {'D', 9.0 / 8, 19.0 / 16}, {'E', 5.0 / 4, 0.0},  {'F', 4.0 / 3, 17.0 / 12},
        {'G', 3.0 / 2, 19.0 / 12}, {'A', 5.0 / 3, 85.0 / 48}, {'B', 15.0 / 8, 0.0},
    };
    for (const RATIO& r : ratios) {
        if (r.letter == letter) {
            return sharp ? r.sharp : r.plain;
        }
    }
    return 0.0;
}

// Renders notes into the open file, sample block by sample block.
class NOTE_WRITER
{
public:
    NOTE_WRITER(DATA_DEVICE& d, const WAV_SETTINGS& s) : dev(d), set(s)
    {
        bits16 = s.sixteen_bit != 0;
        channels = s.stereo ? 2 : 1;
        peak = s.volume * (bits16 ? 32767.0 : 127.0) / 100;
        sustain = s.sustain * peak / 100;
    }

    // One note (frequency 0: a rest) of D seconds. False when the data
    // would not fit the header's 32-bit length or the file refused it.
    bool note(double f, double duration)
    {
        if (set.sample_rate == 0 || !(duration > 0)) {
            return true;
        }
        double rate = set.sample_rate;
        // Samples with t = i / rate < D.
        double count = std::ceil(duration * rate);
        double bytes = count * channels * (bits16 ? 2 : 1);
        if (static_cast<double>(data_length) + bytes > 0xFFFFFFFFu - 36.0) {
            return false;
        }
        long n = static_cast<long>(count);
        for (long i = 0; i < n; ++i) {
            double t = static_cast<double>(i) / rate;
            if (!(t < duration)) {
                break;
            }
            if (!put_sample(value_at(f, t, duration))) {
                return false;
            }
        }
        return true;
    }

    bool flush()
    {
        long n = used;
        used = 0;
        return n == 0 || dev.write_data_block(block, n) == n;
    }

    INT_U32 data_length = 0;

private:
    double envelope(double t, double D) const
    {
        double A = set.attack, Dc = set.decay, R = set.release;
        double raw;
        if (t < A) {
            raw = t * peak / A;
        } else if (t < A + Dc) {
            raw = sustain + (peak - sustain) * (A + Dc - t) / Dc;
        } else if (set.tremolo && Dc != 0) {
            // A decay of 0 would make the period 0 and every sample NaN.
            double u = std::fmod(t - (A + Dc), 2 * Dc);
            raw = u < Dc ? sustain + (peak - sustain) * u / Dc : sustain + (peak - sustain) * (2 * Dc - u) / Dc;
        } else {
            raw = sustain;
        }
        double limit;
        if (t > D - R) {
            limit = (D - t) * sustain / R;
        } else if (t > D - R - Dc) {
            limit = sustain + (peak - sustain) * ((D - R) - t) / Dc;
        } else {
            limit = peak;
        }
        return std::min(raw, limit);
    }

    double value_at(double f, double t, double D) const
    {
        double e = envelope(t, D);
        double x = 2 * 3.1415926535898 * f * t;
        double v = e * std::sin(x);
        if (set.harmonics_234) {
            v += e / 2 * std::sin(2 * x) + e / 3 * std::sin(3 * x) + e / 4 * std::sin(4 * x);
        }
        if (set.harmonics_357) {
            v += e / 3 * std::sin(3 * x) + e / 5 * std::sin(5 * x) + e / 7 * std::sin(7 * x);
        }
        return v;
    }

    bool put_sample(double v)
    {
        INT_U8 bytes[2];
        if (bits16) {
            encode_u16(bytes, static_cast<INT_U16>(wav_sample_16(v)), 0);
        } else {
            bytes[0] = wav_sample_8(v);
        }
        int size = bits16 ? 2 : 1;
        for (int c = 0; c < channels; ++c) {
            if (used + size > static_cast<long>(sizeof block) && !flush()) {
                return false;
            }
            std::memcpy(block + used, bytes, static_cast<size_t>(size));
            used += size;
            data_length += static_cast<INT_U32>(size);
        }
        return true;
    }

    DATA_DEVICE& dev;
    const WAV_SETTINGS& set;
    bool bits16;
    int channels;
    double peak, sustain;
    INT_U8 block[8192];
    long used = 0;
};

bool put_tag(DATA_DEVICE& d, const char* tag)
{
    return put_bytes(d, tag, 4);
}

bool write_header(DATA_DEVICE& d, const WAV_SETTINGS& s)
{
    INT_U16 channels = s.stereo ? 2 : 1;
    INT_U16 bits = s.sixteen_bit ? 16 : 8;
    INT_U64 byte_rate = static_cast<INT_U64>(channels) * s.sample_rate * bits / 8;
    return put_tag(d, "RIFF") && put_u32(d, 0) && put_tag(d, "WAVE") && put_tag(d, "fmt ") && put_u32(d, 16) &&
           put_u16(d, 1) && put_u16(d, channels) && put_u32(d, s.sample_rate) &&
           put_u32(d, static_cast<INT_U32>(byte_rate)) && put_u16(d, static_cast<INT_U16>(channels * bits / 8)) &&
           put_u16(d, bits) && put_tag(d, "data") && put_u32(d, 0);
}

// Parses the notes and renders each one; false when a write failed.
bool write_notes(NOTE_WRITER& w, const char* notes, INT_U32 tempo)
{
    int length = 5;
    double base = 644.0;
    const char* p = notes ? notes : "";
    while (*p) {
        char c = *p++;
        if (c >= '0' && c <= '9') {
            length = c - '0';
        } else if (c == 'O') {
            // Only an 'O' with its digit changes the octave; the digit goes
            // with it, a lone 'O' (even the last character) is skipped.
            if (*p >= '0' && *p <= '9') {
                base = 161.0 * std::pow(2.0, *p++ - '0');
            }
        } else if (c == '&') {
            if (*p == '#') {
                continue;
            }
            if (!w.note(0.0, note_seconds(length, tempo))) {
                return false;
            }
        } else if ((c >= 'A' && c <= 'G') || (c >= 'a' && c <= 'g')) {
            bool lower = c >= 'a';
            char letter = static_cast<char>(lower ? c - 'a' + 'A' : c);
            bool sharp = *p == '#';
            double ratio = note_ratio(letter, sharp);
            if (ratio == 0.0) {
                continue;
            }
            if (sharp) {
                ++p;
            }
            if (!w.note((lower ? base / 2 : base) * ratio, note_seconds(length, tempo))) {
                return false;
            }
        }
    }
    return w.flush();
}

} // namespace

INT_S16 wav_sample_16(double v)
{
    if (v > 32767.0) {
        return 32767;
    }
    if (v < -32768.0) {
        return -32768;
    }
    return std::isnan(v) ? 0 : static_cast<INT_S16>(v);
}

INT_U8 wav_sample_8(double v)
{
    // -128 itself must not wrap: 127 + (-128) as a byte is 0xFF.
    if (v > 127.0) {
        return 254;
    }
    if (v <= -128.0) {
        return 0;
    }
    return std::isnan(v) ? 127 : static_cast<INT_U8>(127 + static_cast<int>(v));
}

bool SOUND_BUFFER::load_wav_file(DATA_DEVICE& d, SOUND_WAV& wav)
{
    wav_debug.printf("Starting WAV load\n");
    long start = d.get_pos();
    // The end bounds every skip; a device that cannot tell it is walked
    // until a read or a seek fails.
    long end = d.set_pos(0, 1);
    if (end < start) {
        end = LONG_MAX;
    }
    if (d.set_pos(start, 0) != start) {
        wav_debug.printf("RIFF header missing\n");
        return false;
    }

    INT_U8 head[12];
    if (d.read_data_block(head, 8) != 8 || std::memcmp(head, "RIFF", 4) != 0) {
        wav_debug.printf("RIFF header missing\n");
        return false;
    }
    wav_debug.printf("Found RIFF header\n");
    if (d.read_data_block(head + 8, 4) != 4 || std::memcmp(head + 8, "WAVE", 4) != 0) {
        wav_debug.printf("RIFF format is not WAVE\n");
        return false;
    }
    wav_debug.printf("Got WAVE format RIFF\n");

    bool have_format = false, have_data = false;
    for (;;) {
        wav_debug.printf("Reading subchunk from file offset %ld\n", d.get_pos());
        INT_U8 chunk[8];
        long got = d.read_data_block(chunk, 8);
        if (got <= 0) {
            break;
        }
        if (got < 8) {
            wav_debug.printf("Incompete subchunk header (most likely trailing bytes at end of file)\n\t");
            // The bytes are shown on the channel too: the program's own
            // output is no place for them.
            char shown[8 * 5 + 1] = "";
            for (long i = 0; i < got; ++i) {
                std::snprintf(shown + std::strlen(shown), sizeof shown - std::strlen(shown), "0x%X ", chunk[i]);
            }
            wav_debug.printf("%s\n", shown);
            continue;
        }
        wav_debug.printf("Got '%c%c%c%c' subchunk\n", chunk[0], chunk[1], chunk[2], chunk[3]);
        long length = static_cast<long>(decode_u32(chunk + 4, 0));
        // RIFF pads a chunk of odd length to an even one.
        long padded = length + (length & 1);
        bool skipped;
        if (std::memcmp(chunk, "fmt", 3) == 0) {
            INT_U8 fmt[16];
            if (length < 16 || d.read_data_block(fmt, 16) != 16) {
                wav_debug.printf("\tFormat subchunk does not contain enough byes!\n");
                return false;
            }
            wav.format_tag = decode_u16(fmt, 0);
            wav.channels = decode_u16(fmt + 2, 0);
            wav.sample_rate = decode_u32(fmt + 4, 0);
            wav.byte_rate = decode_u32(fmt + 8, 0);
            wav.block_align = decode_u16(fmt + 12, 0);
            wav.bits_per_sample = decode_u16(fmt + 14, 0);
            if (length > 16) {
                wav_debug.printf("\tMalformed format subchunk which contains extra byes! (is %d bytes should be "
                                 "16 bytes)\n\tWill continue assuming start of fmt chunk is valid.\n"
                                 "\tSkipping %d bytes.\n",
                                 static_cast<int>(length), static_cast<int>(length - 16));
            }
            skipped = skip_bytes(d, padded - 16, end);
            wav_debug.printf("\tFormat subchunk read in\n");
            have_format = true;
        } else if (std::memcmp(chunk, "data", 4) == 0 && !have_data) {
            long pos = d.get_pos();
            // A length that runs past the end means only what the file holds.
            long held = std::min(length, std::max(0L, end - pos));
            wav.data_length = static_cast<INT_U32>(held);
            wav.data_offset = static_cast<INT_U32>(pos);
            skipped = skip_bytes(d, padded, end);
            wav_debug.printf("\tData offset stored (length %ld)\n", held);
            have_data = true;
        } else {
            skipped = skip_bytes(d, padded, end);
            wav_debug.printf("\tSubchunk skipped (length %ld)\n", length);
        }
        if (!skipped) {
            break;
        }
    }
    wav_debug.printf("Complete\n\n");
    return have_format && have_data;
}

bool SOUND_BUFFER::load_wav_file(DATA_FILE* file, SOUND_WAV& wav)
{
    return file && file->is_open() && load_wav_file(static_cast<DATA_DEVICE&>(*file), wav);
}

bool SOUND_BUFFER::save_wav_file(DATA_FILE*, SOUND_WAV&)
{
    return false;
}

INT_U8 SOUND_BUFFER::generate_wav_file(FOLDER& folder, const char* name, const char* notes, INT_U32 tempo,
                                       const WAV_SETTINGS* settings)
{
    static const WAV_SETTINGS defaults;
    const WAV_SETTINGS& s = settings ? *settings : defaults;
    DATA_FILE* file = folder.open_data_file(name, fm_write, 0);
    if (!file) {
        report(ERRCODE_FILE_CREATE, name, __LINE__);
        return 0;
    }
    NOTE_WRITER writer(*file, s);
    bool ok = write_header(*file, s) && write_notes(writer, notes, tempo);
    ok = ok && file->set_pos(40, 0) == 40 && put_u32(*file, writer.data_length);
    ok = ok && file->set_pos(4, 0) == 4 && put_u32(*file, writer.data_length + 36);
    // A full disk often shows only when the last block goes out.
    ok = file->close() && ok;
    folder.close(file);
    if (!ok) {
        report(ERRCODE_FILE_WRITE, name, __LINE__);
        return 0;
    }
    return 1;
}
