#ifndef KIVO_WM_FRAME_PACING_H
#define KIVO_WM_FRAME_PACING_H

// Presents paced to the display. A frame that would follow the previous
// present within one refresh interval first sleeps out the rest of it, so
// that page transitions and dialog effects show at most one frame per
// refresh and leave the processor idle in between, instead of painting as
// many frames as it allows. Where a present already waits for the refresh
// (vsync), or no window is open, nothing waits.
#include "host_window.h"
#include "kivo_types.h"

class WM_FRAME_PACER
{
public:
    // Milliseconds to wait at `now` (the millisecond counter) before the
    // next present; 0 when it may go at once. The interval is rounded up
    // to whole milliseconds, so that no two presents fall in one refresh.
    INT_U32 wait_ms(INT_U32 now, const PRESENT_PACE& pace) const;
    // Whether a full refresh interval has passed at `now` since the last
    // present (with vsync too): a present then costs no wait.
    bool due(INT_U32 now, const PRESENT_PACE& pace) const;
    // A present went out at `now`.
    void presented(INT_U32 now);
    // Nothing remembered: the next present goes at once.
    void forget();

private:
    bool any = false;
    INT_U32 last = 0;
};

// The pacer of the page manager's presents, and where it learns the pace:
// the host's get_present_pace, which tests replace.
WM_FRAME_PACER& wm_frame_pacer();
extern PRESENT_PACE (*wm_present_pace)(short id);

// Sleeps until a present to window 0 is due (on the fake clock the wait
// moves the clock instead).
void wm_wait_for_present();
// Whether a present to window 0 could go now without waiting for its turn.
bool wm_present_is_due();
// A present to window 0 went out; it started at `started` (the
// millisecond counter), from which the next interval counts.
void wm_note_present(INT_U32 started);

#endif
