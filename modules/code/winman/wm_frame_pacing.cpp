// The pacing of presents to the display's refresh.
#include "wm_frame_pacing.h"

#include "host_utils.h"
#include "kivo_host.h"

PRESENT_PACE (*wm_present_pace)(short id) = get_present_pace;

INT_U32 WM_FRAME_PACER::wait_ms(INT_U32 now, const PRESENT_PACE& pace) const
{
    if (!any || pace.interval_us == 0 || pace.vsync) {
        return 0;
    }
    const INT_U32 interval = (pace.interval_us + 999) / 1000;
    // Unsigned: right across a wrap of the counter; a counter that went
    // back reads as long ago.
    const INT_U32 since = now - last;
    return since >= interval ? 0 : interval - since;
}

bool WM_FRAME_PACER::due(INT_U32 now, const PRESENT_PACE& pace) const
{
    const INT_U32 interval = (pace.interval_us + 999) / 1000;
    return !any || now - last >= interval;
}

void WM_FRAME_PACER::presented(INT_U32 now)
{
    any = true;
    last = now;
}

void WM_FRAME_PACER::forget()
{
    any = false;
}

WM_FRAME_PACER& wm_frame_pacer()
{
    static WM_FRAME_PACER pacer;
    return pacer;
}

void wm_wait_for_present()
{
    const INT_U32 wait = wm_frame_pacer().wait_ms(get_ms_count(), wm_present_pace(0));
    if (wait) {
        wait_in_ms(wait);
    }
}

bool wm_present_is_due()
{
    return wm_frame_pacer().due(get_ms_count(), wm_present_pace(0));
}

void wm_note_present(INT_U32 started)
{
    wm_frame_pacer().presented(started);
}
