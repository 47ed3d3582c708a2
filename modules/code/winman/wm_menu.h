#ifndef KIVO_WM_MENU_H
#define KIVO_WM_MENU_H

// WM_MENU: a push button that owns a popup (a WM_FLOATING_MENU) and opens
// it on one side of itself as a modal object; pressing again closes it.
// The popup flips to the other side when it would leave the page manager's
// popup area. Menus linked into a ring (a group) behave like a menu bar:
// while one member's popup is open, pointing at another member switches
// to that member's popup. A menu draws as its button does.
#include "kivo_types.h"
#include "wm_button.h"
#include "wm_dialog.h"
#include "wm_screen_object.h"
#include "wm_style_set.h"

class WM_FLOATING_MENU;

// Side on which the popup opens: 0 below the button, 1 above, 2 left of
// it, 3 right of it; any other value leaves the popup where it is.
typedef INT_U32 MENU_TYPE;

class WM_MENU : public WM_BUTTON
{
public:
    // ---- data (declaration order) -------------------------------------------
    WM_FLOATING_MENU* popup; // owned, not deleted by the modal list; null only when setup failed
    MENU_TYPE menu_type;     // changed for good by a flip in position_popup
    INT_U8 popup_open;       // this menu has put its popup on the modal list
    // For a sub-menu row: the menu or floating menu whose popup holds the
    // row. Null for a top-level menu.
    WM_SCREEN_OBJECT* parent_menu;
    WM_OBJECT_CALLBACK open_callback; // called just before the popup opens; null = none
    void* open_data1;
    void* open_data2;
    INT_S16 x_gap; // pixels between button and popup, left and right types
    INT_S16 y_gap; // pixels between button and popup, below and above types
    // The group ring: both null, or both set (each other in a ring of two).
    WM_MENU* next;
    WM_MENU* previous;

    // ---- class-wide state (wm_context.h) -------------------------------------
    // 0 keep the button type the style gave; 1 force type 0; 2 force type 2,
    // and an open popup closes once the pointer leaves button and popup.
    static inline INT_U32& menu_mode = wm_context.state.menu.menu_mode;
    // {0x60, 100, 200, 0xE0}: the popup's effect when none is given.
    static inline EFFECT_INFO& default_menu_effect_info = wm_context.state.menu.default_menu_effect_info;

    // ---- construction -------------------------------------------------------
    // Corners inclusive. The gaps come from the button style's x_spacing
    // and y_spacing once setup has placed the popup.
    WM_MENU(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, const char* caption, MENU_TYPE type,
            WM_STYLE_SET& button_style, WM_STYLE_SET& popup_style, WM_STYLE_SET* item_style, WM_STYLE_SET* s2,
            WM_STYLE_SET* s3, WM_STYLE_SET* s4, WM_STYLE_SET* s5, EFFECT_INFO* effect, WM_STYLE_SET* s6);
    // c1 face, c2 text, c3 highlight, c4 highlight text of the popup's
    // rows. No hotkey; the gaps stay 0.
    WM_MENU(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, COLOUR c1, COLOUR c2, COLOUR c3, COLOUR c4,
            const char* caption, INT_U8 visible, MENU_TYPE type, EFFECT_INFO* effect);
    // Leaves the group, takes the popup off the modal list and deletes it.
    ~WM_MENU() override;

    // The button's callback; menu is the WM_MENU. Opens the popup, or closes
    // it with its effects once it has been drawn. Returns 0.
    static WM_MESG menu_callback(WM_SCREEN_OBJECT* object, void* menu, void* unused);

    // ---- base operations ----------------------------------------------------
    // The button, then the popup with the popups of its sub-menu rows.
    void hide(INT_U8 modals, INT_U8 children) override;
    // Takes a popup that closed itself off the modal list, then the button's pass.
    WM_MESG monitor() override;
    // Group switching, and closing on hover in menu mode 2.
    WM_MESG update(INT_U8 modal) override;
    void move(INT_S16 nx, INT_S16 ny) override;
    void resize(INT_S16 nw, INT_S16 nh, INT_U8 children) override;
    // The popup first, then the button.
    void set_area(INT_S16 new_area) override;
    // The key also closes the open popup.
    void set_hotkey(unsigned long code) override;

    // ---- popup ----------------------------------------------------------------
    // Places the popup by menu_type, flipping to the other side when it
    // would leave the popup area.
    void position_popup();

    // ---- group ring -------------------------------------------------------------
    // Leaves the current group, then joins other's (a ring of two when other
    // is not grouped). Null or this: only leaves.
    void add_to_group(WM_MENU* other);
    void remove_from_group();
    // This menu or the first member from next on under the point; null when
    // not grouped or none is.
    WM_MENU* find_group_member_at_pos(INT_S16 px, INT_S16 py);

protected:
    void setup(MENU_TYPE type, WM_STYLE_SET& popup_style, WM_STYLE_SET* item_style, WM_STYLE_SET* s2, WM_STYLE_SET* s3,
               WM_STYLE_SET* s4, WM_STYLE_SET* s5, EFFECT_INFO* effect, WM_STYLE_SET* s6);

private:
    // Puts this menu's popup on the modal list (unless it is there) and
    // marks it open.
    void show_popup();
    // The closing sequence on the popup; immediate: without effects.
    void close_popup(bool immediate);
    // The popup's minimum content width from the button's width.
    void fit_popup_width();
};

#endif
