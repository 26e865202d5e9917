#include "windowtable.h"

namespace kzv {

u32 windowtable_nextcapacity(u32 capacity) { return capacity < 16 ? capacity + 4 : capacity + 16; }

bool windowtable_has(guiwindow* const* windows, u32 capacity, guiwindow const* w)
{
    for (u32 i = 0; w && i < capacity; i++)
        if (windows[i] == w)
            return true;
    return false;
}

bool windowtable_add(guiwindow**& windows, u32& capacity, smem& store, guiwindow* w)
{
    if (windowtable_has(windows, capacity, w))
        return true;
    for (u32 i = 0; i < capacity; i++) {
        if (!windows[i]) {
            windows[i] = w;
            return true;
        }
    }
    u32 grown = windowtable_nextcapacity(capacity);
    guiwindow** table = (guiwindow**)store.getmem0(grown * (u32)sizeof(guiwindow*));
    if (!table)
        return false;
    for (u32 i = 0; i < capacity; i++)
        table[i] = windows[i];
    table[capacity] = w;
    windows = table;
    capacity = grown;
    return true;
}

void windowtable_drop(guiwindow** windows, u32 capacity, guiwindow const* w)
{
    for (u32 i = 0; i < capacity; i++)
        if (windows[i] == w)
            windows[i] = nullptr;
}

} // namespace kzv
