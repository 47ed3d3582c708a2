// Sleeps, length-prefixed and UTF-16 strings, and the user's and machine's
// names.
#include "host_utils.h"

#include "host_internal.h"
#include "kivo_host.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

void sleep_for(time_t seconds, long nanoseconds)
{
    timespec want = {seconds, nanoseconds};
    timespec rest;
    while (nanosleep(&want, &rest) != 0 && errno == EINTR) {
        want = rest;
    }
}

constexpr std::size_t pstring_max = 254;
constexpr std::size_t short_buffer = 256;
constexpr std::size_t cfstring_buffer = 1024;

} // namespace

void wait_in_seconds(INT_U32 s)
{
    if (kivo_fake_clock_is_on()) {
        kivo_fake_clock_advance_ms(s * 1000u);
        return;
    }
    sleep_for(static_cast<time_t>(s), 0);
}

void wait_in_ms(INT_U32 ms)
{
    if (kivo_fake_clock_is_on()) {
        kivo_fake_clock_advance_ms(ms);
        return;
    }
    if (ms > 999) {
        sleep_for(static_cast<time_t>(ms / 1000), 0);
    }
    sleep_for(0, static_cast<long>(ms % 1000) * 1000000L);
}

unsigned char* C_TO_P_STR_BUFFER(const char* text, unsigned char* buffer)
{
    if (!buffer) {
        return buffer;
    }
    std::size_t n = text ? std::strlen(text) : 0;
    if (n > pstring_max) {
        n = pstring_max;
    }
    buffer[0] = static_cast<unsigned char>(n);
    if (n > 0) {
        std::memcpy(buffer + 1, text, n);
    }
    return buffer;
}

unsigned char* C_TO_P_STR(const char* text)
{
    static unsigned char buffer[short_buffer];
    return C_TO_P_STR_BUFFER(text, buffer);
}

char* P_TO_C_STR_BUFFER(const unsigned char* pstring, char* buffer)
{
    if (!buffer) {
        return buffer;
    }
    std::size_t n = pstring ? pstring[0] : 0;
    if (n > 0) {
        std::memcpy(buffer, pstring + 1, n);
    }
    buffer[n] = 0;
    return buffer;
}

char* P_TO_C_STR(const unsigned char* pstring)
{
    static char buffer[short_buffer];
    return P_TO_C_STR_BUFFER(pstring, buffer);
}

char* UTF16_TO_C_STR_BUFFER(const INT_U16* units, long count, char* buffer)
{
    if (!buffer) {
        return buffer;
    }
    const long most = static_cast<long>(short_buffer - 1);
    long n = 0;
    if (units && count < 0) {
        while (n < most && units[n] != 0) {
            ++n;
        }
    } else if (units) {
        n = count < most ? count : most;
    }
    for (long i = 0; i < n; ++i) {
        buffer[i] = static_cast<char>(units[i] & 0xFF);
    }
    buffer[n] = 0;
    return buffer;
}

char* UTF16_TO_C_STR(const INT_U16* units, long count)
{
    static char buffer[short_buffer];
    return UTF16_TO_C_STR_BUFFER(units, count, buffer);
}

char* cfstring_to_string(const INT_U16* units, long count)
{
    static char buffer[cfstring_buffer];
    const std::size_t limit = cfstring_buffer - 1;
    std::size_t len = 0;
    bool run = false;
    for (long i = 0; units && i < count; ++i) {
        INT_U16 u = units[i];
        // Room needed, always keeping one byte to close an open run.
        std::size_t need = u <= 0xFF ? (run ? 2 : 1) : (run ? 0 : 1) + 5 + 1;
        if (len + need > limit) {
            break;
        }
        if (u <= 0xFF) {
            if (run) {
                buffer[len++] = 1;
                run = false;
            }
            buffer[len++] = static_cast<char>(u);
            continue;
        }
        if (!run) {
            buffer[len++] = 1;
            run = true;
        }
        std::snprintf(buffer + len, 6, ",%04x", static_cast<unsigned>(u));
        len += 5;
    }
    if (run) {
        buffer[len++] = 1;
    }
    buffer[len] = 0;
    return buffer;
}

INT_U16* CreateCFStringFromStringResource(INT_S16)
{
    return nullptr;
}

char* MoreCSCopyUserName(INT_U8 short_name)
{
    static char name[short_buffer];
    name[0] = 0;
    passwd entry;
    passwd* found = nullptr;
    char strings[4096];
    if (getpwuid_r(getuid(), &entry, strings, sizeof strings, &found) != 0 || !found) {
        return name;
    }
    // The full name is the first comma-separated field of the comment.
    char full[short_buffer] = {};
    if (found->pw_gecos) {
        std::size_t n = std::strcspn(found->pw_gecos, ",");
        if (n >= sizeof full) {
            n = sizeof full - 1;
        }
        std::memcpy(full, found->pw_gecos, n);
    }
    const char* pick = !short_name && full[0] ? full : found->pw_name;
    host_text_from_utf8(pick ? pick : "", name, sizeof name);
    return name;
}

char* MoreCSCopyMachineName()
{
    static char name[short_buffer];
    char host[short_buffer] = {};
    if (gethostname(host, sizeof host - 1) != 0) {
        host[0] = 0;
    }
    host_text_from_utf8(host, name, sizeof name);
    return name;
}

bool is_macosx()
{
    return false;
}
