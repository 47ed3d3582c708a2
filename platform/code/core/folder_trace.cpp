// The default path trace: how every alias resolves, written when the font
// system is up and whenever the base or icon path changes. Silent unless
// the channel's configuration file switches it on.
#include "folder.h"

#include "debug_stream.h"

#include <cstdio>

namespace {

// Zero (silent) until first used; no construction order to depend on.
DEBUG_STREAM default_path_trace;

DEBUG_STREAM& trace()
{
    static bool ready = false;
    if (!ready) {
        // Marked first: reading the configuration positions folders itself.
        ready = true;
        default_path_trace.setup("Default Path Trace", 0, 1);
    }
    return default_path_trace;
}

} // namespace

void FOLDER::write_trace_text(const char* text) { trace().write_to_stream(nullptr, 0, text, 0); }

void FOLDER::write_default_path_trace()
{
    DEBUG_STREAM& t = trace();
    if (!t.flags)
        return;
    static const char* const aliases[] = {"$APP",     "$SYSAPP", "$INSTDATA", "$APPDATA",  "$USERDATA",
                                          "$USERPREFS", "$TEMP",   "$ROOT0",    "$FONTDATA", "$ICONDATA"};
    for (const char* alias : aliases) {
        FOLDER normal{UNPOSITIONED{}}, skipped{UNPOSITIONED{}};
        normal.set(alias);
        skipped.set(alias, 0, nullptr, 0, 0, 1);
        t.printf("%s => %s (%s)\n", alias, normal.path(), skipped.path());
    }
}
