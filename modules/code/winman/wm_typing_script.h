#ifndef KIVO_WM_TYPING_SCRIPT_H
#define KIVO_WM_TYPING_SCRIPT_H

// WM_TYPING_SCRIPT: a text block whose text appears as if typed, one more
// character every ms_per_character from its first draw. When all of it
// shows, or a left click lands inside, the whole text stays, the action
// sound plays and the object callback runs once.
#include "kivo_string.h"
#include "wm_script.h"

class WM_TYPING_SCRIPT : public WM_SCRIPT
{
public:
    KIVO_STRING full_text;    // the whole text being typed
    INT_U32 typing_length;    // length of full_text while typing; 0 once over or for an empty text
    INT_U32 start_time;       // get_ms_count of the first frame drawing it; 0 = not started
    INT_S32 ms_per_character; // 20; 0 or less finishes at once

    WM_TYPING_SCRIPT(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, WM_STYLE_SET& style, const char* text);
    ~WM_TYPING_SCRIPT() override;

    using WM_SCRIPT::setup;
    // Restarts typing with the shown text as the text to type: nothing shows
    // until the first draw.
    void setup();
    void set_string(const char* text, INT_U8 grow) override;

    WM_MESG monitor() override;
    WM_MESG update(INT_U8 modal) override;
    // The typing starts with the first frame that draws the script.
    void prepare_draw() override;

private:
    void finish_typing();
};

#endif
