// The start-up benchmark's reference: the least an SDL program does to show
// a window of the program's size. It opens the window with the renderer the
// host uses (the first that SDL offers, no vsync), presents one frame of a
// known colour and then waits until it is asked to end (SIGTERM or the close
// box), presenting again only when the window is exposed.
#include <SDL.h>

#include <cstdio>

namespace {

// The colour the benchmark looks for: #3366CC.
const Uint8 RED = 0x33, GREEN = 0x66, BLUE = 0xCC;

void present(SDL_Renderer* renderer)
{
    SDL_SetRenderDrawColor(renderer, RED, GREEN, BLUE, 255);
    SDL_RenderClear(renderer);
    SDL_RenderPresent(renderer);
}

} // namespace

int main(int, char**)
{
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "minimal_window: %s\n", SDL_GetError());
        return 1;
    }
    SDL_Window* window =
        SDL_CreateWindow("startup reference", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, 800, 600, 0);
    SDL_Renderer* renderer = window ? SDL_CreateRenderer(window, -1, 0) : nullptr;
    if (!renderer) {
        std::fprintf(stderr, "minimal_window: %s\n", SDL_GetError());
        SDL_Quit();
        return 1;
    }
    present(renderer);

    SDL_Event e;
    bool running = true;
    while (running && SDL_WaitEvent(&e)) {
        if (e.type == SDL_QUIT) {
            running = false;
        } else if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_EXPOSED) {
            present(renderer);
        }
    }
    SDL_DestroyRenderer(renderer);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}
