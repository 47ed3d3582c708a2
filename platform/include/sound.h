#ifndef KIVO_SOUND_H
#define KIVO_SOUND_H

// Sound playback and WAV files. A SOUND_BUFFER holds one sound loaded from
// a file and plays it with volume, pan and looping; SOUND_MANAGER is a
// fixed set of buffers used as channels. Every buffer's playing state sits
// in a record on one list that the audio device's mixer walks; the run loop
// calls check_playing_sound_buffers once per pass.
//
// Beside playback: a RIFF WAVE chunk walker (load_wav_file) and a note
// synthesiser that renders a string of notes into a PCM WAV file.
#include "kivo_types.h"

class DATA_DEVICE;
class DATA_FILE;
class FOLDER;

// The synthesiser's settings; WAV_SETTINGS{} holds the defaults used when
// generate_wav_file is given none.
struct WAV_SETTINGS
{
    INT_S8 volume = 100;         // percent of full scale
    INT_U32 sample_rate = 22050; // Hz
    INT_U8 stereo = 0;
    INT_U8 sixteen_bit = 1;   // else 8-bit unsigned samples
    double attack = 0.2;      // seconds
    double decay = 0.1;       // seconds; 0 turns the tremolo off
    double release = 0.2;     // seconds
    INT_U8 tremolo = 0;       // triangle between sustain and peak while sustaining
    INT_S8 sustain = 80;      // percent of the peak
    INT_U8 harmonics_234 = 0; // add harmonics 2, 3 and 4
    INT_U8 harmonics_357 = 0; // add harmonics 3, 5 and 7
};

// One buffer's state as the mixer sees it (defined by the host).
struct SOUND_RECORD;

class SOUND_BUFFER
{
public:
    // The WAVE format chunk's 16 bytes as they stand in the file, then where
    // the first data chunk is.
    struct SOUND_WAV
    {
        INT_U16 format_tag;
        INT_U16 channels;
        INT_U32 sample_rate;
        INT_U32 byte_rate;
        INT_U16 block_align;
        INT_U16 bits_per_sample;
        INT_U32 data_length; // bytes, clamped to what the file holds
        INT_U32 data_offset; // file position of the first sample byte
    };

    SOUND_BUFFER();
    virtual ~SOUND_BUFFER();
    SOUND_BUFFER(const SOUND_BUFFER&) = delete;
    SOUND_BUFFER& operator=(const SOUND_BUFFER&) = delete;

    // Opens the file in the folder and loads it; the result is also the
    // loaded flag. False when it cannot be opened or read as sound.
    bool load(FOLDER& folder, const char* name);
    // Reads the whole file (at most 64 MiB) and converts it to the output
    // format; any sound loaded before is cleared first.
    bool platform_load(DATA_FILE* file);
    // From the start; does nothing while nothing is loaded.
    void platform_play();
    void platform_stop();
    // Playing and not yet past the end of its samples.
    bool platform_is_playing();
    // Stops and forgets the loaded sound.
    void platform_clear();
    // Percent 0..100 (clamped); kept across loads.
    void set_volume(INT_S16 percent);
    // -100 (left) .. 100 (right), clamped; kept across loads.
    void set_pan(INT_S16 pan);
    bool is_loaded() const { return loaded != 0; }

    // Walks the RIFF chunks of a WAVE file from the device's current
    // position, tracing each step on wav_debug; true when both a format and
    // a data chunk were found.
    static bool load_wav_file(DATA_DEVICE& d, SOUND_WAV& wav);
    static bool load_wav_file(DATA_FILE* file, SOUND_WAV& wav);
    // Writing WAV records is not supported: returns false, writes nothing.
    static bool save_wav_file(DATA_FILE* file, SOUND_WAV& wav);
    // Renders the notes into a PCM WAV file (tempo: ms of a length-5 note;
    // settings null: the defaults). 1 when the whole file was written, 0
    // when it could not be created, written or closed.
    static INT_U8 generate_wav_file(FOLDER& folder, const char* name, const char* notes, INT_U32 tempo,
                                    const WAV_SETTINGS* settings);

    SOUND_RECORD* record;
    INT_U8 loop;
    INT_U8 loaded;

    static INT_U16 instance_count;
};

// A fixed set of 1..20 buffers used as channels.
class SOUND_MANAGER
{
public:
    explicit SOUND_MANAGER(INT_S16 channels);
    ~SOUND_MANAGER();
    SOUND_MANAGER(const SOUND_MANAGER&) = delete;
    SOUND_MANAGER& operator=(const SOUND_MANAGER&) = delete;

    // Loads the file into the channel and plays it; returns the channel, or
    // -1 (channel outside 0..count-1, file not loaded).
    INT_S16 play(INT_S16 channel, FOLDER& folder, const char* name, INT_S16 volume, INT_S16 pan, INT_U8 loop);
    // The same on the first channel not playing; -1 when all are busy.
    INT_S16 play(FOLDER& folder, const char* name, INT_S16 volume, INT_S16 pan, INT_U8 loop);
    // That channel, or every channel for -1.
    void stop(INT_S16 channel);
    bool is_playing(INT_S16 channel);
    void set_volume(INT_S16 channel, INT_S16 percent);
    void set_pan(INT_S16 channel, INT_S16 pan);
    // Null for a channel outside 0..count-1.
    SOUND_BUFFER* get_buffer(INT_S16 channel);

    INT_S16 count;
    SOUND_BUFFER* buffers;
};

// Once per pass of the run loop: a sound that ended and does not loop stops
// counting as playing (looping ones restart in the mixer without a gap).
void check_playing_sound_buffers();

#endif
