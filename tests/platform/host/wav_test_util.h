// RIFF WAVE files built byte by byte for the sound tests.
#ifndef KIVO_TEST_WAV_TEST_UTIL_H
#define KIVO_TEST_WAV_TEST_UTIL_H

#include "console_capture.h"
#include "debug_stream.h"
#include "kivo_host.h"
#include "kivo_types.h"

#include <string>
#include <vector>

namespace wavtest {

inline std::string le(INT_U32 v, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    return out;
}

// A chunk: its id, its body and (when not ~0) the length its header claims.
// Odd bodies get their pad byte unless pad is false.
struct CHUNK
{
    std::string id;
    std::string body;
    INT_U32 declared = ~0u;
    bool pad = true;
};

inline std::string fmt_body(INT_U16 channels, INT_U32 rate, INT_U16 bits)
{
    INT_U16 align = static_cast<INT_U16>(channels * bits / 8);
    return le(1, 2) + le(channels, 2) + le(rate, 4) + le(rate * align, 4) + le(align, 2) + le(bits, 2);
}

inline std::string riff(const std::vector<CHUNK>& chunks, const std::string& form = "WAVE")
{
    std::string body = form;
    for (const CHUNK& c : chunks) {
        body += c.id + le(c.declared == ~0u ? static_cast<INT_U32>(c.body.size()) : c.declared, 4) + c.body;
        if (c.pad && c.body.size() % 2) {
            body += '\0';
        }
    }
    return "RIFF" + le(static_cast<INT_U32>(body.size()), 4) + body;
}

// A plain PCM file: format chunk, then the samples as one data chunk.
inline std::string pcm_wav(INT_U16 channels, INT_U32 rate, INT_U16 bits, const std::string& samples)
{
    return riff({{"fmt ", fmt_body(channels, rate, bits)}, {"data", samples}});
}

// n 16-bit stereo frames of one constant value per channel.
inline std::string constant_frames(long n, INT_S16 left, INT_S16 right)
{
    std::string out;
    for (long i = 0; i < n; ++i) {
        out += le(static_cast<INT_U16>(left), 2) + le(static_cast<INT_U16>(right), 2);
    }
    return out;
}

// What wav_debug writes while one exists.
inline std::string& wav_console = kivo_test::CONSOLE_CAPTURE::text();
struct WAV_DEBUG_CAPTURE : kivo_test::CONSOLE_CAPTURE
{
    WAV_DEBUG_CAPTURE() : CONSOLE_CAPTURE(wav_debug) {}
};

} // namespace wavtest

#endif
