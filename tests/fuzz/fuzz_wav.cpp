// WAV readers against arbitrary bytes: the RIFF chunk walker, and loading
// as a sound through SDL's decoder and the conversion to the output format
// (then a short mix of whatever loaded).
#include "data_file.h"
#include "fuzz_device.h"
#include "sound.h"
#include "sound_internal.h"

#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Built before main: it must not touch SDL.
SOUND_BUFFER buffer;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    FUZZ_DATA_DEVICE d(data, size);
    SOUND_BUFFER::SOUND_WAV wav;
    SOUND_BUFFER::load_wav_file(d, wav);

    // The file forms read a real file: an anonymous one in memory.
    int fd = memfd_create("fuzz_wav", 0);
    if (fd < 0) {
        return 0;
    }
    if (write(fd, data, size) != static_cast<ssize_t>(size) || lseek(fd, 0, SEEK_SET) != 0) {
        close(fd);
        return 0;
    }
    std::FILE* fp = fdopen(fd, "rb");
    if (!fp) {
        close(fd);
        return 0;
    }
    DATA_FILE file;
    if (!file.open(fp, fm_read, 0, 0)) {
        return 0;
    }
    SOUND_BUFFER::load_wav_file(&file, wav);
    if (buffer.platform_load(&file)) {
        SOUND_RECORD r = *buffer.record;
        r.playing = 1;
        r.loop = 1;
        r.next = nullptr;
        INT_S16 out[2 * 700];
        sound_mix(&r, out, 700);
    }
    file.close();
    return 0;
}
