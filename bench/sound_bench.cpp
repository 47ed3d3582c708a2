// Mixing: 50 ms of 48 kHz stereo output from eight sounds playing at full
// volume with pans, through the mix the audio callback runs, against SDL's
// own mixing of the same samples into the same buffer.
#include "bench_ratio.h"
#include "sound_internal.h"

#include <SDL.h>

#include <cstring>
#include <vector>

namespace {

constexpr int kSounds = 8;
constexpr long kFrames = 48000 / 20;

std::vector<INT_S16> sounds[kSounds];
SOUND_RECORD records[kSounds];
std::vector<INT_S16> output(2 * kFrames);

void make_sounds()
{
    const INT_S16 balances[kSounds] = {-127, -90, -45, 0, 0, 45, 90, 127};
    INT_U32 seed = 12345;
    for (int s = 0; s < kSounds; ++s) {
        sounds[s].resize(2 * kFrames);
        for (INT_S16& v : sounds[s]) {
            seed = seed * 1664525u + 1013904223u;
            v = static_cast<INT_S16>(static_cast<INT_S32>(seed >> 16) - 32768) / 4;
        }
        records[s] = SOUND_RECORD{};
        records[s].samples = sounds[s].data();
        records[s].frames = kFrames;
        records[s].playing = 1;
        records[s].volume = 256;
        records[s].balance = balances[s];
        records[s].next = s + 1 < kSounds ? &records[s + 1] : nullptr;
    }
}

void BM_mix_ours(benchmark::State& state)
{
    for (auto _ : state) {
        for (SOUND_RECORD& r : records) {
            r.position = 0;
        }
        sound_mix(records, output.data(), kFrames);
        benchmark::DoNotOptimize(output.data());
    }
}

void BM_mix_sdl(benchmark::State& state)
{
    const Uint32 bytes = static_cast<Uint32>(output.size() * sizeof(INT_S16));
    for (auto _ : state) {
        std::memset(output.data(), 0, bytes);
        for (const std::vector<INT_S16>& s : sounds) {
            SDL_MixAudioFormat(reinterpret_cast<Uint8*>(output.data()), reinterpret_cast<const Uint8*>(s.data()),
                               AUDIO_S16SYS, bytes, SDL_MIX_MAXVOLUME);
        }
        benchmark::DoNotOptimize(output.data());
    }
}

BENCHMARK(BM_mix_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_mix_sdl)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    make_sounds();
    return kivo_bench::run_with_ratios(
        argc, argv, {{"mix 8 panned sounds, 50 ms: sound_mix vs SDL_MixAudioFormat", "BM_mix_ours", "BM_mix_sdl"}});
}
