// A back-end's table of the windows it has open. It grows in the back-end's
// store, by 4 while it is small and by 16 from 16 on; a slot freed by a close is
// taken again. An outgrown table stays in the store until the back-end exits, so
// a copy of the pointer handed out earlier (the GDI window procedure's) never
// dangles.
#pragma once
#include "../framework/mem.h"
#include "guiwindow.h"

namespace kzv {

u32 windowtable_nextcapacity(u32 capacity);
bool windowtable_has(guiwindow* const* windows, u32 capacity, guiwindow const* w);
// True once `w` is in the table (it may have been already); false when the store
// refuses a larger table, which then stays as it was.
bool windowtable_add(guiwindow**& windows, u32& capacity, smem& store, guiwindow* w);
void windowtable_drop(guiwindow** windows, u32 capacity, guiwindow const* w);

} // namespace kzv
