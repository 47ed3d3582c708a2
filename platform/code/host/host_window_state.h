// What the window sources share among themselves (host_window.cpp,
// host_gl.cpp, display_state.cpp): the window, its renderer and texture.
// The rest of the host reaches the window through host_internal.h only.
#ifndef KIVO_HOST_WINDOW_STATE_H
#define KIVO_HOST_WINDOW_STATE_H

#include <SDL.h>

struct HOST_WINDOW_STATE
{
    SDL_Window* window;     // null while closed
    SDL_Renderer* renderer; // null while closed or while OpenGL presents
    SDL_Texture* texture;   // the streaming copy of the back buffer
    int texture_w, texture_h;
};

HOST_WINDOW_STATE& host_window_state();

// Makes the renderer of the current window (its texture comes with the
// next blit); false when SDL refuses.
bool host_make_renderer();
// Frees the renderer and its texture; the window stays.
void host_drop_renderer();

// The OpenGL path's blit (host_gl.cpp); false while OpenGL is off.
bool host_gl_blit();

// Where a buffer of buf_w x buf_h shows on an output of out_w x out_h
// pixels in full screen: one scale for both sides, as large as fits, the
// picture centred and the rest black. The renderer's logical size does the
// same for the texture path; the OpenGL path and the pointer use this.
struct HOST_LETTERBOX
{
    int x, y, w, h; // the picture's area, from the output's top left
    float scale;    // output pixels per buffer pixel
};
HOST_LETTERBOX host_letterbox(int out_w, int out_h, int buf_w, int buf_h);

#endif
