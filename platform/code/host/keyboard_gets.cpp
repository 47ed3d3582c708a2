// Line input from the typed-character buffer into the caller's buffer,
// running event passes while it waits.
#include "keyboard.h"

#include "host_main.h"

namespace {

// Asks the filter (when there is one); false when it ends the input.
bool filter_allows(KEYBOARD_GETS_FILTER filter, INT_U8 event, char* buffer, void* data)
{
    return !filter || filter(event, buffer, data) != 0;
}

} // namespace

INT_U8 KEYBOARD::gets(INT_U8 wait, INT_S32& position, char* buffer, INT_S32 size, KEYBOARD_GETS_FILTER filter,
                      void* data)
{
    // Nothing can be edited; waiting for it would never end.
    if (!buffer || size < 1) {
        return 3;
    }
    for (;;) {
        // Whatever position the caller gives, every write stays inside
        // buffer[0 .. size - 1].
        if (position < 0) {
            position = 0;
        }
        if (position > size - 1) {
            position = size - 1;
        }

        char c = KEYBOARD::get_char();
        if (!c) {
            if (!wait) {
                return 3;
            }
            process_os_events();
            if (!filter_allows(filter, 0, buffer, data)) {
                return 1;
            }
            continue;
        }

        bool changed = false;
        if (c == 8) {
            if (position > 0) {
                --position;
                buffer[position] = 0;
                changed = true;
            }
        } else if (c == 10) {
            if (buffer[position]) {
                buffer[position] = 0;
                if (position < size - 1) {
                    ++position;
                }
            }
            return filter_allows(filter, 1, buffer, data) ? 2 : 1;
        } else if (static_cast<unsigned char>(c) >= 32 && position < size - 1) {
            buffer[position++] = c;
            buffer[position] = 0;
            changed = true;
        }

        if (changed && !filter_allows(filter, 1, buffer, data)) {
            return 1;
        }
        if (!wait) {
            return 4;
        }
    }
}
