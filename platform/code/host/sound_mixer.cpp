// The mix the audio callback runs over the playing sound records.
#include "sound_internal.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr long kBlockFrames = 512;

// Adds n frames of one record into the 32-bit sums. Gains are 16.16 fixed
// point: volume v (0..256) and balance b scale left by (127 - max(0, b)) /
// 127 and right by (127 + min(0, b)) / 127, so full volume is exact.
void add_record(SOUND_RECORD* r, INT_S32* sum, long n)
{
    INT_S64 v = std::max<INT_S16>(0, std::min<INT_S16>(256, r->volume));
    INT_S64 b = std::max<INT_S16>(-127, std::min<INT_S16>(127, r->balance));
    const INT_S32 left = static_cast<INT_S32>(v * (127 - std::max<INT_S64>(0, b)) * 65536 / (256 * 127));
    const INT_S32 right = static_cast<INT_S32>(v * (127 + std::min<INT_S64>(0, b)) * 65536 / (256 * 127));
    long k = 0;
    while (k < n) {
        if (r->position >= r->frames) {
            if (!r->loop) {
                return;
            }
            r->position = 0;
        }
        long take = std::min(n - k, static_cast<long>(r->frames - r->position));
        const INT_S16* s = r->samples + 2 * static_cast<long>(r->position);
        INT_S32* d = sum + 2 * k;
        for (long i = 0; i < take; ++i) {
            d[2 * i] += (s[2 * i] * left) >> 16;
            d[2 * i + 1] += (s[2 * i + 1] * right) >> 16;
        }
        r->position += static_cast<INT_U32>(take);
        k += take;
    }
    // A looping sound is never seen at its end, where it would count as
    // finished.
    if (r->loop && r->position >= r->frames) {
        r->position = 0;
    }
}

} // namespace

void sound_mix(SOUND_RECORD* head, INT_S16* out, long frames)
{
    INT_S32 sum[kBlockFrames * 2];
    for (long done = 0; done < frames; done += kBlockFrames) {
        long n = std::min(kBlockFrames, frames - done);
        std::memset(sum, 0, sizeof(INT_S32) * 2 * static_cast<size_t>(n));
        for (SOUND_RECORD* r = head; r; r = r->next) {
            if (r->playing && r->samples && r->frames) {
                add_record(r, sum, n);
            }
        }
        INT_S16* o = out + 2 * done;
        for (long i = 0; i < 2 * n; ++i) {
            o[i] = static_cast<INT_S16>(std::max(-32768, std::min(32767, sum[i])));
        }
    }
}
