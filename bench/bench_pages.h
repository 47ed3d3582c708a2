#ifndef KIVO_BENCH_PAGES_H
#define KIVO_BENCH_PAGES_H

// The scene the widget benchmarks draw on: a back buffer as every widget's
// surface and a page manager of one area over a full-size background.
#include "host_window.h"
#include "image.h"
#include "kivo_types.h"
#include "wm_page_manager.h"
#include "wm_screen_object.h"

namespace kivo_bench {

// The caller fills the background and deletes the manager.
inline WM_PAGE_MANAGER* new_page_manager(short width, short height)
{
    create_back_buffer(width, height);
    WM_SCREEN_OBJECT::surface = get_back_buffer(0);
    auto* manager = new WM_PAGE_MANAGER(1, -1);
    manager->backgrounds[0].setup(width, height);
    return manager;
}

// Red across, blue down: every pixel differs, so blending over it costs
// what it would over a picture.
inline void paint_gradient(IMAGE& image, int width, int height)
{
    for (int j = 0; j < height; ++j) {
        for (int i = 0; i < width; ++i) {
            image.pixels[static_cast<long>(j) * image.stride + i] =
                0xFF000000u | static_cast<INT_U32>(i * 255 / width) << 16 | static_cast<INT_U32>(j * 255 / height);
        }
    }
}

} // namespace kivo_bench

#endif
