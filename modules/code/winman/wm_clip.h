#ifndef KIVO_WM_CLIP_H
#define KIVO_WM_CLIP_H

// The one way widgets narrow the surface's clip and give it back.
// set_active_area clamps its corners, so it would turn a saved empty clip
// (all -1) into the pixel (0, 0); the saver copies the four fields instead.
#include "image.h"

class WM_CLIP_SAVER
{
public:
    // A null image saves and restores nothing.
    explicit WM_CLIP_SAVER(IMAGE* image) : image(image)
    {
        if (image) {
            x1 = image->active_x1;
            y1 = image->active_y1;
            x2 = image->active_x2;
            y2 = image->active_y2;
        }
    }
    ~WM_CLIP_SAVER() { restore(); }
    WM_CLIP_SAVER(const WM_CLIP_SAVER&) = delete;
    WM_CLIP_SAVER& operator=(const WM_CLIP_SAVER&) = delete;

    // Puts the saved clip back now (and again at the end of the scope).
    void restore()
    {
        if (image) {
            image->active_x1 = x1;
            image->active_y1 = y1;
            image->active_x2 = x2;
            image->active_y2 = y2;
        }
    }

private:
    IMAGE* image;
    INT_S16 x1 = -1, y1 = -1, x2 = -1, y2 = -1;
};

#endif
