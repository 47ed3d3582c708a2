#ifndef KIVO_TEST_CONSOLE_CAPTURE_H
#define KIVO_TEST_CONSOLE_CAPTURE_H

// Collects what one debug channel writes to the console while the capture
// exists; the host and the channel's flags are put back as they were.
#include "debug_stream.h"
#include "kivo_host.h"

#include <string>

namespace kivo_test {

class CONSOLE_CAPTURE
{
public:
    explicit CONSOLE_CAPTURE(DEBUG_STREAM& stream) : stream(stream), saved_host(*kivo_host()), saved_flags(stream.flags)
    {
        text().clear();
        KIVO_HOST_TABLE host = saved_host;
        host.write_to_console = [](const char* line) { text() += line; };
        kivo_set_host(&host);
        stream.flags = DEBUG_STREAM_WRITE_TO_CONSOLE;
    }
    ~CONSOLE_CAPTURE()
    {
        stream.flags = saved_flags;
        kivo_set_host(&saved_host);
    }
    CONSOLE_CAPTURE(const CONSOLE_CAPTURE&) = delete;
    CONSOLE_CAPTURE& operator=(const CONSOLE_CAPTURE&) = delete;

    // What was written, kept after the capture ends until the next starts.
    static std::string& text()
    {
        static std::string written;
        return written;
    }

private:
    DEBUG_STREAM& stream;
    KIVO_HOST_TABLE saved_host;
    INT_U16 saved_flags;
};

} // namespace kivo_test

#endif
