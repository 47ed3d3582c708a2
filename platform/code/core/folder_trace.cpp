// The default path trace: how every alias resolves, written when the font
// system is up and whenever the base or icon path changes. Silent unless
// the channel's configuration file switches it on.
#include "folder.h"

#include "debug_stream.h"

#include <cstdio>

void FOLDER::write_trace_text(const char* text)
{
    default_path_trace.write_to_stream(nullptr, 0, text, 0);
}

void FOLDER::write_default_path_trace()
{
    DEBUG_STREAM& t = default_path_trace;
    if (!t.flags) {
        return;
    }
    static const char* const aliases[] = {"$APP",       "$SYSAPP", "$INSTDATA", "$APPDATA",  "$USERDATA",
                                          "$USERPREFS", "$TEMP",   "$ROOT0",    "$FONTDATA", "$ICONDATA"};
    for (const char* alias : aliases) {
        FOLDER normal{UNPOSITIONED{}}, skipped{UNPOSITIONED{}};
        normal.set(alias);
        skipped.set(alias, 0, nullptr, 0, 0, 1);
        t.printf("%s => %s (%s)\n", alias, normal.path(), skipped.path());
    }
}
