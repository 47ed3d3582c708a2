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
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

INT_U16 SOUND_BUFFER::instance_count = 0;

namespace {

// Files and converted sounds above this are refused, so bad input never
// asks for a huge allocation (64 MiB is about six minutes of 48 kHz stereo).
constexpr INT_U64 kMaxSoundBytes = 64ull << 20;
constexpr int kFallbackRate = 48000;
// SDL's converter overflows while setting up for rates far above any real
// sound's (a few MHz); such files are refused.
constexpr int kMaxFileRate = 768000;

// Plain zero-initialised data: nothing here runs before main, so no static
// touches SDL.
struct SOUND_OUTPUT
{
    SOUND_RECORD* buffer_head;
    SDL_AudioDeviceID device;
    int rate;            // output frames per second; fixed while any buffer exists
    bool audio_started;  // this module holds a start of SDL's audio subsystem
    bool null_sink;
};
SOUND_OUTPUT output;

void report(INT_U16 code, const char* argument, int line)
{
    set_error_code(code, argument);
    if (platform_debug_stream.flags)
        platform_debug_stream.write_to_stream("sound", line, get_error_text(), 1);
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
        if (device)
            SDL_LockAudioDevice(device);
    }
    ~DEVICE_LOCK()
    {
        if (device)
            SDL_UnlockAudioDevice(device);
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
    if (audio_up())
        return true;
    output.audio_started = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    return output.audio_started;
}

// The rate sounds are converted to: the default device's own, settled at
// the first load or play and kept while any buffer exists.
int settle_rate()
{
    if (output.rate > 0)
        return output.rate;
    output.rate = kFallbackRate;
    SDL_AudioSpec spec;
    if (start_audio() && SDL_GetDefaultAudioInfo(nullptr, &spec, 0) == 0 && spec.freq >= 8000 &&
        spec.freq <= 384000) {
        output.rate = spec.freq;
    }
    return output.rate;
}

// Opens the device (16-bit stereo at the settled rate; SDL adapts it to the
// hardware) or, when there is none, switches to the null sink.
void start_output()
{
    audio_up();
    if (output.device || output.null_sink)
        return;
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
        if (output.device)
            SDL_CloseAudioDevice(output.device);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    output = SOUND_OUTPUT{};
}

void advance_null_sink(SOUND_RECORD* r, INT_U32 now)
{
    INT_U64 frames = static_cast<INT_U64>(now - r->sink_ms) * static_cast<INT_U64>(output.rate) / 1000;
    r->sink_ms = now;
    INT_U64 pos = r->position + frames;
    if (r->loop)
        pos %= r->frames;
    r->position = static_cast<INT_U32>(std::min<INT_U64>(pos, r->frames));
}

// Runs the samples through the stream into out (capacity bytes); returns
// the bytes converted, or -1. SDL's stream loses output when one put
// carries much data while resampling, so it is fed in small pieces.
long convert(SDL_AudioStream* stream, const Uint8* in, long in_bytes, long in_frame, Uint8* out, long capacity)
{
    const long piece = in_frame * 256;
    long used = 0;
    for (long pos = 0;; pos += piece) {
        int n = static_cast<int>(std::min(piece, in_bytes - pos));
        bool last = pos + n >= in_bytes;
        if (n > 0 && SDL_AudioStreamPut(stream, in + pos, n) != 0)
            return -1;
        if (last && SDL_AudioStreamFlush(stream) != 0)
            return -1;
        int got = 0;
        while (used < capacity) {
            got = SDL_AudioStreamGet(stream, out + used, static_cast<int>(std::min(capacity - used, 65536L)));
            if (got <= 0)
                break;
            used += got;
        }
        if (got < 0)
            return -1;
        if (last)
            return used;
    }
}

// SDL's loader allocates what a chunk header claims before reading it: every
// chunk length is cut to the bytes that follow it in the file, so a forged
// length costs no more memory than the file's own size.
void clamp_chunk_lengths(INT_U8* bytes, long size)
{
    // SDL also reads a file that lacks the RIFF header and starts at "WAVE".
    long pos;
    if (size >= 12 && std::memcmp(bytes, "RIFF", 4) == 0)
        pos = 0;
    else if (size >= 4 && std::memcmp(bytes, "WAVE", 4) == 0)
        pos = 4;
    else
        return;
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

    INT_S16* samples = nullptr;
    int rate = settle_rate();
    INT_U64 in_frame = static_cast<INT_U64>(SDL_AUDIO_BITSIZE(spec.format) / 8) * spec.channels;
    INT_U64 in_frames = in_frame ? pcm_len / in_frame : 0;
    // The rate ratio can blow a small file up enormously (a file at 1 Hz):
    // the converted size is checked in 64 bits before anything is converted.
    INT_U64 out_bytes = ~0ull;
    if (spec.freq > 0)
        out_bytes = (in_frames * static_cast<INT_U64>(rate) / static_cast<INT_U64>(spec.freq) + 1) * 4;
    SDL_AudioStream* stream = nullptr;
    if (in_frame && spec.freq <= kMaxFileRate && out_bytes <= kMaxSoundBytes &&
        pcm_len <= static_cast<Uint32>(INT_MAX)) {
        stream = SDL_NewAudioStream(spec.format, spec.channels, spec.freq, AUDIO_S16SYS, 2, rate);
        // The resampler may give a few frames more than the estimate.
        samples = stream ? static_cast<INT_S16*>(std::malloc(static_cast<size_t>(out_bytes + 4096))) : nullptr;
    }
    long got = samples ? convert(stream, pcm, static_cast<long>(in_frames * in_frame), static_cast<long>(in_frame),
                                 reinterpret_cast<Uint8*>(samples), static_cast<long>(out_bytes + 4096))
                       : -1;
    if (stream)
        SDL_FreeAudioStream(stream);
    SDL_FreeWAV(pcm);
    if (got < 0) {
        std::free(samples);
        wav_debug.printf("Sound file %s not converted\n", name);
        report(ERRCODE_FILE_READ, name, __LINE__);
        return nullptr;
    }
    *frames_out = static_cast<INT_U32>(got / 4);
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
    if (!record)
        return;
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
    if (instance_count > 0 && --instance_count == 0)
        stop_output();
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
    if (!record || !file || !file->is_open())
        return false;
    INT_U32 frames = 0;
    INT_S16* samples = decode_sound(file, &frames);
    if (!samples)
        return false;
    DEVICE_LOCK lock;
    record->samples = samples;
    record->frames = frames;
    record->position = 0;
    loaded = 1;
    return true;
}

void SOUND_BUFFER::platform_play()
{
    if (!record || !record->samples)
        return;
    start_output();
    DEVICE_LOCK lock;
    record->position = 0;
    record->playing = 1;
    record->loop = loop;
    record->sink_ms = get_ms_count();
}

void SOUND_BUFFER::platform_stop()
{
    if (!record)
        return;
    DEVICE_LOCK lock;
    record->playing = 0;
}

bool SOUND_BUFFER::platform_is_playing()
{
    if (!record)
        return false;
    DEVICE_LOCK lock;
    return record->samples && record->playing && record->position < record->frames;
}

void SOUND_BUFFER::platform_clear()
{
    loaded = 0;
    if (!record)
        return;
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
    if (!record)
        return;
    percent = std::max<INT_S16>(0, std::min<INT_S16>(100, percent));
    DEVICE_LOCK lock;
    record->volume = static_cast<INT_S16>(percent * 256 / 100);
}

void SOUND_BUFFER::set_pan(INT_S16 pan)
{
    if (!record)
        return;
    pan = std::max<INT_S16>(-100, std::min<INT_S16>(100, pan));
    DEVICE_LOCK lock;
    record->balance = static_cast<INT_S16>(pan * 127 / 100);
}

void check_playing_sound_buffers()
{
    INT_U32 now = get_ms_count();
    DEVICE_LOCK lock;
    for (SOUND_RECORD* r = output.buffer_head; r; r = r->next) {
        if (!r->samples || !r->playing)
            continue;
        if (output.null_sink && r->frames)
            advance_null_sink(r, now);
        if (r->position >= r->frames && !r->loop)
            r->playing = 0;
    }
}

SOUND_MANAGER::SOUND_MANAGER(INT_S16 channels)
    : count(std::max<INT_S16>(1, std::min<INT_S16>(20, channels))), buffers(new (std::nothrow) SOUND_BUFFER[count])
{
    if (!buffers)
        count = 0;
}

SOUND_MANAGER::~SOUND_MANAGER()
{
    delete[] buffers;
}

INT_S16 SOUND_MANAGER::play(INT_S16 channel, FOLDER& folder, const char* name, INT_S16 volume, INT_S16 pan,
                            INT_U8 loop)
{
    SOUND_BUFFER* b = get_buffer(channel);
    if (!b)
        return -1;
    b->set_volume(volume);
    b->set_pan(pan);
    b->loop = loop;
    if (!b->load(folder, name))
        return -1;
    b->platform_play();
    return channel;
}

INT_S16 SOUND_MANAGER::play(FOLDER& folder, const char* name, INT_S16 volume, INT_S16 pan, INT_U8 loop)
{
    for (INT_S16 c = 0; c < count; ++c) {
        if (!buffers[c].platform_is_playing())
            return play(c, folder, name, volume, pan, loop);
    }
    return -1;
}

void SOUND_MANAGER::stop(INT_S16 channel)
{
    if (channel == -1) {
        for (INT_S16 c = 0; c < count; ++c)
            buffers[c].platform_stop();
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
    if (SOUND_BUFFER* b = get_buffer(channel))
        b->set_volume(percent);
}

void SOUND_MANAGER::set_pan(INT_S16 channel, INT_S16 pan)
{
    if (SOUND_BUFFER* b = get_buffer(channel))
        b->set_pan(pan);
}

SOUND_BUFFER* SOUND_MANAGER::get_buffer(INT_S16 channel)
{
    return channel >= 0 && channel < count ? &buffers[channel] : nullptr;
}
