// Sound buffers and channels. Every buffer's record sits on one list that
// SDL's audio callback mixes from; the main thread changes that list and
// its records only with the device locked. Without any audio device a null
// sink moves the records on by the clock instead, so sounds still finish
// and loop.
#include "sound.h"

#include "data_device.h"
#include "data_file.h"
#include "debug_stream.h"
#include "errors.h"
#include "folder.h"
#include "kivo_host.h"
#include "sound_internal.h"

#include <SDL.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <numeric>

INT_U16 SOUND_BUFFER::instance_count = 0;

namespace {

// Files, converted sounds and the converter's buffer above this are
// refused, so bad input never asks for a huge allocation (64 MiB is about
// six minutes of 48 kHz stereo).
constexpr INT_U64 kMaxSoundBytes = 64ull << 20;
constexpr int kFallbackRate = 48000;
// The rates sound cards play. Outside them a file is damaged, and
// converting it would cost out of all proportion to its size (a file at
// 1 Hz grows 48,000 times).
constexpr int kMinFileRate = 1000;
constexpr int kMaxFileRate = 768000;
// What the converter's buffer holds for one piece of a long sound.
constexpr INT_U64 kPieceBytes = 256u << 10;
// Input frames the resampling filter reads on either side of an output
// frame (per output frame's length when shrinking the rate), with room to
// spare: SDL's filter reads five.
constexpr INT_U64 kFilterReach = 16;

// Plain zero-initialised data: nothing here runs before main, so no static
// touches SDL.
struct SOUND_OUTPUT
{
    SOUND_RECORD* buffer_head;
    SDL_AudioDeviceID device;
    int rate;           // output frames per second; fixed while any buffer exists
    bool audio_started; // this module holds a start of SDL's audio subsystem
    bool null_sink;
};
SOUND_OUTPUT output;

void report(INT_U16 code, const char* argument, int line)
{
    set_error_code(code, argument);
    if (platform_debug_stream.flags) {
        platform_debug_stream.write_to_stream("sound", line, get_error_text(), 1);
    }
}

// SDL may have been shut down under us (SDL_Quit at exit, before static
// buffers go): then the device is gone and no SDL call may follow.
bool audio_up()
{
    if (output.audio_started && SDL_WasInit(SDL_INIT_AUDIO) == 0) {
        output.audio_started = false;
        output.device = 0;
    }
    return output.audio_started;
}

class DEVICE_LOCK
{
public:
    DEVICE_LOCK() : device(audio_up() ? output.device : 0)
    {
        if (device) {
            SDL_LockAudioDevice(device);
        }
    }
    ~DEVICE_LOCK()
    {
        if (device) {
            SDL_UnlockAudioDevice(device);
        }
    }
    DEVICE_LOCK(const DEVICE_LOCK&) = delete;
    DEVICE_LOCK& operator=(const DEVICE_LOCK&) = delete;

private:
    SDL_AudioDeviceID device;
};

void SDLCALL audio_callback(void*, Uint8* stream, int len)
{
    sound_mix(output.buffer_head, reinterpret_cast<INT_S16*>(stream), len / 4);
}

bool start_audio()
{
    if (audio_up()) {
        return true;
    }
    output.audio_started = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    return output.audio_started;
}

// The rate sounds are converted to: the default device's own, settled at
// the first load or play and kept while any buffer exists.
int settle_rate()
{
    if (output.rate > 0) {
        return output.rate;
    }
    output.rate = kFallbackRate;
    SDL_AudioSpec spec;
    if (start_audio() && SDL_GetDefaultAudioInfo(nullptr, &spec, 0) == 0 && spec.freq >= 8000 && spec.freq <= 384000) {
        output.rate = spec.freq;
    }
    return output.rate;
}

// Opens the device (16-bit stereo at the settled rate; SDL adapts it to the
// hardware) or, when there is none, switches to the null sink.
void start_output()
{
    audio_up();
    if (output.device || output.null_sink) {
        return;
    }
    int rate = settle_rate();
    if (start_audio()) {
        SDL_AudioSpec want = {};
        want.freq = rate;
        want.format = AUDIO_S16SYS;
        want.channels = 2;
        want.samples = 1024;
        want.callback = audio_callback;
        SDL_AudioSpec have;
        output.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (output.device) {
            SDL_PauseAudioDevice(output.device, 0);
            return;
        }
    }
    output.null_sink = true;
    wav_debug.printf("No audio device could be opened (%s): sounds play silently\n", SDL_GetError());
}

// The last buffer went: the device closes and the audio subsystem stops.
void stop_output()
{
    if (audio_up()) {
        if (output.device) {
            SDL_CloseAudioDevice(output.device);
        }
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    output = SOUND_OUTPUT{};
}

void advance_null_sink(SOUND_RECORD* r, INT_U32 now)
{
    INT_U64 frames = static_cast<INT_U64>(now - r->sink_ms) * static_cast<INT_U64>(output.rate) / 1000;
    r->sink_ms = now;
    INT_U64 pos = r->position + frames;
    if (r->loop) {
        pos %= r->frames;
    }
    r->position = static_cast<INT_U32>(std::min<INT_U64>(pos, r->frames));
}

// Where the chunks start: at the RIFF chunk (0), or after "WAVE" (4) in a
// file that lacks the RIFF header, which SDL also reads; -1 for no WAV.
long first_chunk(const INT_U8* bytes, long size)
{
    if (size >= 12 && std::memcmp(bytes, "RIFF", 4) == 0) {
        return 0;
    }
    return size >= 4 && std::memcmp(bytes, "WAVE", 4) == 0 ? 4 : -1;
}

// SDL's loader allocates what a chunk header claims before reading it: every
// chunk length is cut to the bytes that follow it in the file, so a forged
// length costs no more memory than the file's own size.
void clamp_chunk_lengths(INT_U8* bytes, long size)
{
    long pos = first_chunk(bytes, size);
    if (pos < 0) {
        return;
    }
    while (size - pos >= 8) {
        INT_U32 length = decode_u32(bytes + pos + 4, 0);
        INT_U64 room = static_cast<INT_U64>(size - pos - 8);
        if (length > room) {
            length = static_cast<INT_U32>(room);
            encode_u32(bytes + pos + 4, length, 0);
        }
        // The RIFF chunk holds the others: after its form type comes the
        // first of them. Odd chunks carry a pad byte.
        pos = pos == 0 ? 12 : pos + 8 + static_cast<long>(length) + static_cast<long>(length & 1);
    }
}

// The most bytes SDL's decoder can make of the file's first data chunk
// (chunk lengths already clamped): ADPCM grows 4-bit samples to 16, A-law
// and mu-law 8 to 16, 24-bit PCM 3 bytes to 4. Checked before decoding, so
// a file within the size limit cannot decode to four times it.
INT_U64 decoded_bound(const INT_U8* bytes, long size)
{
    long pos = first_chunk(bytes, size);
    if (pos < 0) {
        return 0;
    }
    // Inside the RIFF chunk, after its form type.
    pos = pos == 0 ? 12 : pos;
    INT_U16 tag = 1, bits = 16;
    while (size - pos >= 8) {
        const INT_U32 length = decode_u32(bytes + pos + 4, 0);
        const INT_U8* body = bytes + pos + 8;
        if (static_cast<INT_U64>(length) > static_cast<INT_U64>(size - pos - 8)) {
            return 0;
        }
        if (std::memcmp(bytes + pos, "fmt ", 4) == 0 && length >= 16) {
            tag = decode_u16(body, 0);
            bits = decode_u16(body + 14, 0);
            // The extensible form names its encoding in its sub-format.
            if (tag == 0xFFFE && length >= 40) {
                tag = decode_u16(body + 24, 0);
            }
        } else if (std::memcmp(bytes + pos, "data", 4) == 0) {
            const INT_U64 n = length;
            switch (tag) {
            case 0x0002:
            case 0x0011: return n * 4;
            case 0x0006:
            case 0x0007: return n * 2;
            default: return bits == 24 ? n / 3 * 4 + 4 : n;
            }
        }
        pos += 8 + static_cast<long>(length) + static_cast<long>(length & 1);
    }
    return 0;
}

// How a decoded sound is converted to the output format: in pieces, so
// that the converter's buffer stays small however long the sound is, with
// what converting it in one piece gives. A piece starts where an input and
// an output frame fall at the same time, and takes the frames the filter
// reads on either side of it along (silence past the end, as the one-piece
// conversion pads).
struct CONVERSION
{
    SDL_AudioCVT cvt;
    INT_U64 frame; // bytes of one input frame
    INT_U64 in_frames;
    INT_U64 out_frames; // output frames up to the end of the last input frame
    INT_U64 q, p;       // the rates in lowest terms: q input frames last as long as p output frames
    INT_U64 reach;      // input frames the filter reads past a piece
    INT_U64 lead;       // input frames taken before a piece: reach in whole q
    INT_U64 piece;      // input frames a piece converts: whole q
    INT_U64 work_bytes; // the converter's buffer
};

// Plans the conversion; null when it can be made, else why not.
const char* plan_conversion(const SDL_AudioSpec& spec, Uint32 pcm_len, int rate, CONVERSION& c)
{
    if (spec.freq < kMinFileRate || spec.freq > kMaxFileRate) {
        return "its sample rate is outside 1000 to 768000 Hz";
    }
    if (SDL_BuildAudioCVT(&c.cvt, spec.format, spec.channels, spec.freq, AUDIO_S16SYS, 2, rate) < 0) {
        return "its sample format cannot be converted";
    }
    c.frame = static_cast<INT_U64>(SDL_AUDIO_BITSIZE(spec.format) / 8) * spec.channels;
    if (c.frame == 0) {
        return "its sample format cannot be converted";
    }
    const INT_U64 freq = static_cast<INT_U64>(spec.freq);
    const INT_U64 gcd = std::gcd(freq, static_cast<INT_U64>(rate));
    c.in_frames = pcm_len / c.frame;
    c.q = freq / gcd;
    c.p = static_cast<INT_U64>(rate) / gcd;
    // In 64 bits before anything is allocated.
    c.out_frames = (c.in_frames * c.p + c.q - 1) / c.q;
    if (c.out_frames * 4 > kMaxSoundBytes) {
        return "converted, it would take more than 64 MiB";
    }
    c.reach = kFilterReach * ((freq + static_cast<INT_U64>(rate) - 1) / static_cast<INT_U64>(rate));
    c.lead = (c.reach + c.q - 1) / c.q * c.q;
    const INT_U64 per_frame = c.frame * static_cast<INT_U64>(std::max(1, c.cvt.len_mult));
    c.piece = std::max(c.q, kPieceBytes / per_frame / c.q * c.q);
    // A sound of one piece needs no lead.
    INT_U64 frames = c.in_frames <= c.piece ? c.in_frames + c.reach : c.lead + c.piece + c.reach;
    c.work_bytes = frames * per_frame;
    if (c.work_bytes > kMaxSoundBytes) {
        return "its converter would need more than 64 MiB";
    }
    return nullptr;
}

// Converts piece by piece through work (work_bytes) into out (out_frames
// stereo frames); false when the converter fails.
bool convert(CONVERSION& c, const Uint8* pcm, Uint8 silence, Uint8* work, INT_S16* out)
{
    for (INT_U64 a = 0; a < c.in_frames; a += c.piece) {
        const INT_U64 b = std::min(c.in_frames, a + c.piece);
        const INT_U64 start = a - std::min(a, c.lead);
        const INT_U64 end = b + c.reach;
        const INT_U64 real = std::min(end, c.in_frames) - start;
        std::memcpy(work, pcm + start * c.frame, static_cast<size_t>(real * c.frame));
        std::memset(work + real * c.frame, silence, static_cast<size_t>((end - start - real) * c.frame));
        c.cvt.buf = work;
        c.cvt.len = static_cast<int>((end - start) * c.frame);
        if (SDL_ConvertAudio(&c.cvt) != 0) {
            return false;
        }
        // Output frame k of the piece falls at input frame start + k * q / p.
        const INT_U64 base = start * c.p / c.q;
        const INT_U64 first = a * c.p / c.q;
        const INT_U64 last = b == c.in_frames ? c.out_frames : b * c.p / c.q;
        if ((last - base) * 4 > static_cast<INT_U64>(std::max(0, c.cvt.len_cvt))) {
            return false;
        }
        std::memcpy(out + 2 * first, work + (first - base) * 4, static_cast<size_t>((last - first) * 4));
    }
    return true;
}

// Reads and decodes the whole file and converts it to the output format.
// Null (with the error set) when it is too big or not a sound SDL reads.
INT_S16* decode_sound(DATA_FILE* file, INT_U32* frames_out)
{
    const char* name = file->name.get_string(0);
    long size = file->get_length();
    if (size < 0 || static_cast<INT_U64>(size) > kMaxSoundBytes || file->set_pos(0, 0) != 0) {
        report(ERRCODE_FILE_READ, name, __LINE__);
        return nullptr;
    }
    INT_U8* bytes = static_cast<INT_U8*>(std::malloc(static_cast<size_t>(std::max(1L, size))));
    if (!bytes || file->read_data_block(bytes, size) != size) {
        std::free(bytes);
        report(ERRCODE_FILE_READ, name, __LINE__);
        return nullptr;
    }
    clamp_chunk_lengths(bytes, size);
    if (decoded_bound(bytes, size) > kMaxSoundBytes) {
        std::free(bytes);
        wav_debug.printf("Sound file %s not read: decoded, it would take more than 64 MiB\n", name);
        report(ERRCODE_FILE_READ, name, __LINE__);
        return nullptr;
    }
    SDL_AudioSpec spec;
    Uint8* pcm = nullptr;
    Uint32 pcm_len = 0;
    SDL_RWops* rw = SDL_RWFromConstMem(bytes, static_cast<int>(size));
    bool decoded = rw && SDL_LoadWAV_RW(rw, 1, &spec, &pcm, &pcm_len);
    std::free(bytes);
    if (!decoded) {
        wav_debug.printf("Sound file %s not read: %s\n", name, SDL_GetError());
        report(ERRCODE_FILE_READ, name, __LINE__);
        return nullptr;
    }

    CONVERSION c;
    const char* refusal = plan_conversion(spec, pcm_len, settle_rate(), c);
    INT_S16* samples = nullptr;
    Uint8* work = nullptr;
    if (!refusal) {
        samples = static_cast<INT_S16*>(std::malloc(static_cast<size_t>(std::max<INT_U64>(1, c.out_frames) * 4)));
        work = static_cast<Uint8*>(std::malloc(static_cast<size_t>(std::max<INT_U64>(1, c.work_bytes))));
        // The decoder gives 8-bit samples unsigned and every wider one signed.
        const Uint8 silence = SDL_AUDIO_ISSIGNED(spec.format) ? 0 : 0x80;
        if (!samples || !work) {
            refusal = "there is not enough memory";
        } else if (!convert(c, pcm, silence, work, samples)) {
            refusal = SDL_GetError();
        }
    }
    std::free(work);
    SDL_FreeWAV(pcm);
    if (refusal) {
        std::free(samples);
        wav_debug.printf("Sound file %s not converted (%d Hz, %d channels): %s\n", name, spec.freq,
                         static_cast<int>(spec.channels), refusal);
        report(ERRCODE_FILE_READ, name, __LINE__);
        return nullptr;
    }
    *frames_out = static_cast<INT_U32>(c.out_frames);
    return samples;
}

} // namespace

int sound_output_rate()
{
    return output.rate;
}

bool sound_null_sink_active()
{
    return output.null_sink;
}

bool sound_device_open()
{
    return audio_up() && output.device != 0;
}

SOUND_BUFFER::SOUND_BUFFER() : record(new (std::nothrow) SOUND_RECORD{}), loop(0), loaded(0)
{
    ++instance_count;
    if (!record) {
        return;
    }
    record->volume = 256;
    DEVICE_LOCK lock;
    record->next = output.buffer_head;
    output.buffer_head = record;
}

SOUND_BUFFER::~SOUND_BUFFER()
{
    if (record) {
        {
            DEVICE_LOCK lock;
            for (SOUND_RECORD** p = &output.buffer_head; *p; p = &(*p)->next) {
                if (*p == record) {
                    *p = record->next;
                    break;
                }
            }
        }
        std::free(record->samples);
        delete record;
    }
    if (instance_count > 0 && --instance_count == 0) {
        stop_output();
    }
}

bool SOUND_BUFFER::load(FOLDER& folder, const char* name)
{
    DATA_FILE* file = folder.open_data_file(name, fm_read, 0);
    if (!file) {
        platform_clear();
        report(ERRCODE_FILE_NOT_FOUND, name, __LINE__);
        return false;
    }
    loaded = platform_load(file) ? 1 : 0;
    folder.close(file);
    return loaded != 0;
}

bool SOUND_BUFFER::platform_load(DATA_FILE* file)
{
    platform_clear();
    if (!record || !file || !file->is_open()) {
        return false;
    }
    INT_U32 frames = 0;
    INT_S16* samples = decode_sound(file, &frames);
    if (!samples) {
        return false;
    }
    DEVICE_LOCK lock;
    record->samples = samples;
    record->frames = frames;
    record->position = 0;
    loaded = 1;
    return true;
}

void SOUND_BUFFER::platform_play()
{
    if (!record || !record->samples) {
        return;
    }
    start_output();
    DEVICE_LOCK lock;
    record->position = 0;
    record->playing = 1;
    record->loop = loop;
    record->sink_ms = get_ms_count();
}

void SOUND_BUFFER::platform_stop()
{
    if (!record) {
        return;
    }
    DEVICE_LOCK lock;
    record->playing = 0;
}

bool SOUND_BUFFER::platform_is_playing()
{
    if (!record) {
        return false;
    }
    DEVICE_LOCK lock;
    return record->samples && record->playing && record->position < record->frames;
}

void SOUND_BUFFER::platform_clear()
{
    loaded = 0;
    if (!record) {
        return;
    }
    INT_S16* samples;
    {
        DEVICE_LOCK lock;
        samples = record->samples;
        record->samples = nullptr;
        record->frames = 0;
        record->position = 0;
        record->playing = 0;
        record->loop = 0;
    }
    std::free(samples);
}

void SOUND_BUFFER::set_volume(INT_S16 percent)
{
    if (!record) {
        return;
    }
    percent = std::max<INT_S16>(0, std::min<INT_S16>(100, percent));
    DEVICE_LOCK lock;
    record->volume = static_cast<INT_S16>(percent * 256 / 100);
}

void SOUND_BUFFER::set_pan(INT_S16 pan)
{
    if (!record) {
        return;
    }
    pan = std::max<INT_S16>(-100, std::min<INT_S16>(100, pan));
    DEVICE_LOCK lock;
    record->balance = static_cast<INT_S16>(pan * 127 / 100);
}

void check_playing_sound_buffers()
{
    INT_U32 now = get_ms_count();
    DEVICE_LOCK lock;
    for (SOUND_RECORD* r = output.buffer_head; r; r = r->next) {
        if (!r->samples || !r->playing) {
            continue;
        }
        if (output.null_sink && r->frames) {
            advance_null_sink(r, now);
        }
        if (r->position >= r->frames && !r->loop) {
            r->playing = 0;
        }
    }
}

SOUND_MANAGER::SOUND_MANAGER(INT_S16 channels)
    : count(std::max<INT_S16>(1, std::min<INT_S16>(20, channels))), buffers(new (std::nothrow) SOUND_BUFFER[count])
{
    if (!buffers) {
        count = 0;
    }
}

SOUND_MANAGER::~SOUND_MANAGER()
{
    delete[] buffers;
}

INT_S16 SOUND_MANAGER::play(INT_S16 channel, FOLDER& folder, const char* name, INT_S16 volume, INT_S16 pan, INT_U8 loop)
{
    SOUND_BUFFER* b = get_buffer(channel);
    if (!b) {
        return -1;
    }
    b->set_volume(volume);
    b->set_pan(pan);
    b->loop = loop;
    if (!b->load(folder, name)) {
        return -1;
    }
    b->platform_play();
    return channel;
}

INT_S16 SOUND_MANAGER::play(FOLDER& folder, const char* name, INT_S16 volume, INT_S16 pan, INT_U8 loop)
{
    for (INT_S16 c = 0; c < count; ++c) {
        if (!buffers[c].platform_is_playing()) {
            return play(c, folder, name, volume, pan, loop);
        }
    }
    return -1;
}

void SOUND_MANAGER::stop(INT_S16 channel)
{
    if (channel == -1) {
        for (INT_S16 c = 0; c < count; ++c) {
            buffers[c].platform_stop();
        }
    } else if (SOUND_BUFFER* b = get_buffer(channel)) {
        b->platform_stop();
    }
}

bool SOUND_MANAGER::is_playing(INT_S16 channel)
{
    SOUND_BUFFER* b = get_buffer(channel);
    return b && b->platform_is_playing();
}

void SOUND_MANAGER::set_volume(INT_S16 channel, INT_S16 percent)
{
    if (SOUND_BUFFER* b = get_buffer(channel)) {
        b->set_volume(percent);
    }
}

void SOUND_MANAGER::set_pan(INT_S16 channel, INT_S16 pan)
{
    if (SOUND_BUFFER* b = get_buffer(channel)) {
        b->set_pan(pan);
    }
}

SOUND_BUFFER* SOUND_MANAGER::get_buffer(INT_S16 channel)
{
    return channel >= 0 && channel < count ? &buffers[channel] : nullptr;
}
