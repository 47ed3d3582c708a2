// The widget layer's redraw over a headless 1024 x 768 back buffer: one
// widget's redraw against the full redraw of its page, and the update-
// region list filled by 10,000 requests against the first 1,000 of them.
// Both sides of each pair are our own code: the ratios show how the cost
// scales, not how we compare with another library. A summary of the time
// ratios is printed at the end.
#include "bench_pages.h"
#include "bench_ratio.h"
#include "image.h"
#include "wm_image.h"
#include "wm_manager.h"
#include "wm_page_manager.h"
#include "wm_screen_object.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

const int W = 1024, H = 768;
const int TILES = 40, TILE_W = 120, TILE_H = 30;

// A widget that fills its rectangle and draws two rings, as a picture
// with a two-ring border costs.
class TILE : public WM_SCREEN_OBJECT
{
public:
    TILE(int px, int py, COLOUR fill) : WM_SCREEN_OBJECT(1, nullptr, nullptr, nullptr), fill(fill)
    {
        x = static_cast<INT_S16>(px);
        y = static_cast<INT_S16>(py);
        width = TILE_W;
        height = TILE_H;
    }
    void draw_object() override
    {
        const short x2 = static_cast<short>(x + width - 1), y2 = static_cast<short>(y + height - 1);
        surface->fill_rect(x, y, x2, y2, fill, 0);
        surface->draw_rect(x, y, x2, y2, COLOUR_WHITE, 1, 15);
        surface->draw_rect(static_cast<short>(x + 1), static_cast<short>(y + 1), static_cast<short>(x2 - 1),
                           static_cast<short>(y2 - 1), COLOUR_DARK_GREY, 1, 15);
    }
    COLOUR fill;
};

// One page of 40 tiles in one area over a background picture.
struct Page
{
    WM_PAGE_MANAGER* manager = nullptr;
    std::vector<TILE*> tiles;

    Page()
    {
        manager = kivo_bench::new_page_manager(W, H);
        kivo_bench::paint_gradient(manager->backgrounds[0], W, H);
        for (int k = 0; k < TILES; ++k) {
            auto* tile = new TILE(8 + (k % 8) * 126, 8 + (k / 8) * 150, 0xFF000000u | (k * 0x051F3Du));
            manager->areas[0].add_object(tile, 0);
            tiles.push_back(tile);
        }
        redraw_all();
    }
    ~Page() { delete manager; }
    void redraw_all()
    {
        manager->areas[0].mark_entire_redraw_area();
        manager->check_for_draw();
    }
};

Page& page()
{
    static Page p;
    return p;
}

// The same page made of 40 image widgets (120 x 30 pictures, two raised
// rings on every edge) under their own root in the area. Only while one of
// their benchmarks runs are they shown and the tiles hidden, so the other
// benchmarks walk one hidden object more.
struct ImagePage
{
    WM_MANAGER* root = nullptr;
    std::vector<WM_IMAGE*> images;

    ImagePage()
    {
        Page& p = page();
        root = new WM_MANAGER(0);
        p.manager->areas[0].add_object(root, 0);
        for (int k = 0; k < TILES; ++k) {
            auto* image = new WM_IMAGE(static_cast<INT_S16>(8 + (k % 8) * 126), static_cast<INT_S16>(8 + (k / 8) * 150),
                                       TILE_W, TILE_H, 1, nullptr, nullptr, nullptr, 1);
            image->picture.clear(0xFF000000u | (k * 0x051F3Du), 1);
            image->shading_type = 6;
            image->shading_flags = 15;
            root->add_object(image, 0);
            images.push_back(image);
        }
    }
    // Shows the images instead of the tiles, or the other way round.
    void show(bool on)
    {
        root->visible = on ? 1 : 0;
        for (TILE* tile : page().tiles) {
            tile->visible = on ? 0 : 1;
        }
    }
};

ImagePage& image_page()
{
    static ImagePage p;
    return p;
}

void BM_image_page_redraw_full(benchmark::State& state)
{
    ImagePage& images = image_page();
    images.show(true);
    for (auto _ : state) {
        page().redraw_all();
    }
    images.show(false);
}
BENCHMARK(BM_image_page_redraw_full);

// Where every redraw begins: the background put over the whole window.
void BM_background_put(benchmark::State& state)
{
    Page& p = page();
    image_page();
    for (auto _ : state) {
        p.manager->backgrounds[0].put(0, 0, WM_SCREEN_OBJECT::surface, IMAGE_COPY_REPLACE);
    }
}
BENCHMARK(BM_background_put);

void BM_page_redraw_one_widget(benchmark::State& state)
{
    Page& p = page();
    for (auto _ : state) {
        p.tiles[17]->request_draw();
        p.manager->check_for_draw();
    }
}
BENCHMARK(BM_page_redraw_one_widget);

void BM_page_redraw_full(benchmark::State& state)
{
    Page& p = page();
    for (auto _ : state) {
        p.redraw_all();
    }
}
BENCHMARK(BM_page_redraw_full);

// 8 x 8 requests on a 48-pixel grid over the window, in a seeded random
// order: they never come within the joining distance, so the list fills.
const std::vector<WM_UPDATE_REGION>& requests()
{
    static const std::vector<WM_UPDATE_REGION> list = [] {
        std::vector<WM_UPDATE_REGION> grid;
        for (int y = 0; y + 8 <= H; y += 48) {
            for (int x = 0; x + 8 <= W; x += 48) {
                grid.push_back({static_cast<INT_S16>(y), static_cast<INT_S16>(x), static_cast<INT_S16>(x + 7),
                                static_cast<INT_S16>(y + 7)});
            }
        }
        std::mt19937 rng(20261207);
        std::vector<WM_UPDATE_REGION> out;
        while (out.size() < 10000) {
            std::shuffle(grid.begin(), grid.end(), rng);
            out.insert(out.end(), grid.begin(), grid.end());
        }
        out.resize(10000);
        return out;
    }();
    return list;
}

// The first `count` requests into an empty list, which is emptied again.
// The list never holds more than 128 regions, so ten times the requests
// must cost less than ten times as much.
void add_requests(std::size_t count)
{
    const std::vector<WM_UPDATE_REGION>& all = requests();
    WM_SCREEN_OBJECT::update_region_method = 3;
    WM_SCREEN_OBJECT::update_regions_sz = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const WM_UPDATE_REGION& r = all[i];
        WM_SCREEN_OBJECT::add_update_region(r.left, r.top, r.right, r.bottom);
    }
    benchmark::DoNotOptimize(WM_SCREEN_OBJECT::update_regions_sz);
    WM_SCREEN_OBJECT::update_regions_sz = 0;
}

void BM_regions_10000(benchmark::State& state)
{
    page(); // the same set-up for both
    for (auto _ : state) {
        add_requests(10000);
    }
}
BENCHMARK(BM_regions_10000);

void BM_regions_1000(benchmark::State& state)
{
    page();
    for (auto _ : state) {
        add_requests(1000);
    }
}
BENCHMARK(BM_regions_1000);

} // namespace

int main(int argc, char** argv)
{
    return kivo_bench::run_with_ratios(
        argc, argv,
        {{"page of 40 image widgets vs one 1024 x 768 put (both ours)", "BM_image_page_redraw_full",
          "BM_background_put"},
         {"one widget's redraw vs the page of 40 (both ours)", "BM_page_redraw_one_widget", "BM_page_redraw_full"},
         {"region list: 10,000 requests vs 1,000 (both ours)", "BM_regions_10000", "BM_regions_1000"}});
}
