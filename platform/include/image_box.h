#ifndef KIVO_IMAGE_BOX_H
#define KIVO_IMAGE_BOX_H

// A skinned box: up to nine slices that fill a rectangle of any size
// (nine-slice, three-slice across or down, or one picture), plus three
// overlays, all shared references from an image cache. The box can keep
// its last composed picture to blit it again.
#include "colour.h"
#include "image.h"
#include "kivo_types.h"

class FOLDER;
class IMAGE_CACHE;

class IMAGE_BOX
{
public:
    // Where the pieces come from; null: the box has no skin.
    IMAGE_CACHE* cache = nullptr;
    IMAGE* mid_left = nullptr;
    IMAGE* mid_mid = nullptr;
    IMAGE* mid_right = nullptr;
    IMAGE* top_mid = nullptr;
    IMAGE* bottom_mid = nullptr;
    IMAGE* top_left = nullptr;
    IMAGE* top_right = nullptr;
    IMAGE* bottom_left = nullptr;
    IMAGE* bottom_right = nullptr;
    IMAGE* colay = nullptr; // centred overlay
    IMAGE* solay = nullptr; // scaled overlay, masked by the box
    IMAGE* tolay = nullptr; // tiled overlay, masked by the box
    // The stored composed picture, owned by the box.
    IMAGE* result = nullptr;
    INT_S16 overlay_x = 0, overlay_y = 0;
    // Set: the next draw composes the stored result again.
    INT_U8 redraw = 0;

    // Draws go through the stored result.
    static INT_U8 store_local_result;

    IMAGE_BOX() = default;
    // Copies would share the stored result; assignment shares pieces only.
    IMAGE_BOX(const IMAGE_BOX&) = delete;
    // Frees the stored result; the pieces are given back by clear_images.
    ~IMAGE_BOX();

    bool load_images(const char* folder, const char* base_name, INT_U8 flags);
    bool load_images(FOLDER& folder, const char* base_name, INT_U8 flags);
    bool are_images_valid() const { return mid_mid != nullptr; }
    // A null target is the window's back buffer.
    void draw(short x1, short y1, short x2, short y2, INT_U8 stretch, IMAGE* target, IMAGE_COPY_TYPE type);
    // x, y relative to the box's top-left; w, h the box's size.
    bool is_in_it(short x, short y, short w, short h);
    void clear_images();
    IMAGE_BOX& operator=(const IMAGE_BOX& other);

    void recolour(COLOUR tint);
    void set_trialpha_colours(COLOUR c1, COLOUR c2, COLOUR c3);
    void replace_colour(COLOUR from, COLOUR to);
    void make_grey();

private:
    IMAGE** piece(int i);
    bool has_nine_slices() const
    {
        return top_left && top_mid && top_right && mid_left && mid_mid && mid_right && bottom_left && bottom_mid &&
               bottom_right;
    }
    // Runs a cache edit on every present piece.
    template <class EDIT> void edit_pieces(EDIT edit)
    {
        for (int i = 0; cache && i < 12; i++) {
            if (*piece(i)) {
                edit(*piece(i));
            }
        }
    }
    void compose(IMAGE* target, long x, long y, long w, long h, INT_U8 stretch, IMAGE_COPY_TYPE type);
    void compose_overlays(IMAGE* target, long x, long y, long w, long h, INT_U8 stretch);
    // Multiplies the alpha of `into` by the box drawn at (x, y) in w x h.
    void mask(IMAGE* into, long x, long y, long w, long h, INT_U8 stretch);
};

#endif
