// Apart from the colour arithmetic, so that colour.cpp needs no debug channel.
#include "colour.h"
#include "debug_stream.h"
#include "errors.h"

void COLOUR::write_error_to_debug_stream(const char* source_file, long line)
{
    if (platform_debug_stream.flags) {
        platform_debug_stream.write_to_stream(source_file, line, get_error_text(), 1);
    }
}
