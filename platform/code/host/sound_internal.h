// What the sound modules share: the record of each SOUND_BUFFER that the
// audio callback walks, and the mix it runs. Only host sources, host tests
// and the benchmarks include it.
#ifndef KIVO_SOUND_INTERNAL_H
#define KIVO_SOUND_INTERNAL_H

#include "kivo_types.h"

// Every field the mixer reads or moves changes on the main thread only with
// the audio device locked.
struct SOUND_RECORD
{
    INT_S16* samples; // interleaved stereo at the output rate (malloc'd); null = nothing loaded
    INT_U32 frames;   // stereo frames in samples
    INT_U32 position; // next frame to mix; frames or more = finished
    INT_U8 playing;
    INT_U8 loop;        // copied from the buffer at play
    INT_S16 volume;     // 0..256, kept across loads
    INT_S16 balance;    // -127 (left) .. 127 (right), kept across loads
    INT_U32 sink_ms;    // null sink: get_ms_count of the last advance
    SOUND_RECORD* next; // newer records come first
};

// Mixes `frames` stereo frames into out (overwriting it) from every playing
// record of the list and moves their positions on. A looping record wraps
// to its start within the same call; any other stops at its end.
void sound_mix(SOUND_RECORD* head, INT_S16* out, long frames);

// One synthesised sample as stored: 16-bit clamped and truncated toward
// zero; 8-bit as 127 + the value (above 127 gives 254, -128 or below 0). A
// NaN value is silence.
INT_S16 wav_sample_16(double v);
INT_U8 wav_sample_8(double v);

// For tests: the output's frames per second (0 until a sound was loaded or
// played), and whether the silent stand-in for a missing device is in use.
int sound_output_rate();
bool sound_null_sink_active();
bool sound_device_open();

#endif
