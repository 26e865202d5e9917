// The file chooser's drawing: frames, the "dir up" icon and its tooltip, the path
// line, the rows of both lists, the scrollbars, and text shortened with "..." in
// the middle when it is wider than its space. Positions are relative to the
// widget; text and the fixed colours are drawn opaque (top byte 0xFF).
#include "guifiledialog.h"
#include "../framework/str.h"
#include "../resources/icondirup.h"

namespace kzv {

namespace {

const u32 TRACKCOLOUR = 0xFFE5E5E5;
const u32 THUMBCOLOUR = 0xFFC6C7C8;
const u32 TOOLTIPCOLOUR = 0xFFFFFF00;
const u32 BLACK = PIXEL_OPAQUE;      // opaque, every channel 0
const s32 THUMBMIN = 20;
const u32 RADIUS = 4;
const u32 THUMBRADIUS = 6;
const u32 FITCAPACITY = 1024;       // the shortened text: head, "...", tail

// Characters are counted at UTF-8 lead bytes, so a cut never splits a sequence
// (bytes of an invalid sequence are characters of their own).
bool iscontinuation(char c) { return ((u8)c & 0xC0) == 0x80; }

u32 charcount(char const* s, u32 length)
{
    u32 n = 0;
    for (u32 i = 0; i < length; i++)
        if (!iscontinuation(s[i]) || i == 0)
            n++;
    return n;
}

// Byte offset where character `index` starts (length when past the end).
u32 charoffset(char const* s, u32 length, u32 index)
{
    u32 seen = 0;
    for (u32 i = 0; i < length; i++) {
        if (!iscontinuation(s[i]) || i == 0) {
            if (seen == index)
                return i;
            seen++;
        }
    }
    return length;
}

// The shortened form after `k` removals: the tail loses ceil(k / 2) characters and
// the head floor(k / 2). False when a part is used up.
bool buildshortened(char* out, char const* text, u32 length, u32 chars, u32 k)
{
    u32 half = chars / 2;
    u32 tailchars = kzv_min(half + 1, chars);
    u32 headkeep = half - kzv_min(half, k / 2);
    u32 tailkeep = tailchars - kzv_min(tailchars, (k + 1) / 2);
    u32 headbytes = charoffset(text, length, headkeep);
    u32 tailstart = charoffset(text, length, chars - tailkeep);
    u32 tailbytes = length - tailstart;
    memcpy(out, text, headbytes);
    memcpy(out + headbytes, "...", 3);
    memcpy(out + headbytes + 3, text + tailstart, tailbytes);
    out[headbytes + 3 + tailbytes] = 0;
    return headkeep > 0 && tailkeep > 0;
}

} // namespace

// The Part's walk removes one character at a time, tail and head in turn, until
// the text is narrower than the space. Widths fall with every removal, so the
// first removal count that fits is found by bisection.
void guifiledialog::printtext(int tx, int ty, u32 colour, char const* text, int maxwidth)
{
    image* t = look.target;
    u32 length = strlen(text);
    if (t->textlen(text) <= maxwidth || length + 4 > FITCAPACITY) {
        t->print(x + tx, y + ty, colour, text);
        return;
    }
    u32 chars = charcount(text, length);
    if (chars <= 1) {
        t->print(x + tx, y + ty, colour, text);
        return;
    }
    char shortened[FITCAPACITY];
    u32 last = 0;       // the removal count at which a part is used up
    while (buildshortened(shortened, text, length, chars, last))
        last++;
    u32 low = 0, high = last;
    while (low < high) {
        u32 mid = low + (high - low) / 2;
        buildshortened(shortened, text, length, chars, mid);
        if (t->textlen(shortened) < maxwidth)
            high = mid;
        else
            low = mid + 1;
    }
    buildshortened(shortened, text, length, chars, low);
    t->print(x + tx, y + ty, colour, shortened);
}

void guifiledialog::drawsb(s32 trackx, s32 tracky, s32 trackw, s32 trackh, u32 total, u32 visible, u32 first,
                           s32& thumbtop, s32& thumbbottom)
{
    thumbtop = thumbbottom = tracky;
    if (!total || trackh <= 0)
        return;
    s64 length = kzv_max<s64>(THUMBMIN, (s64)trackh * visible / total);
    length = kzv_min<s64>(length, trackh);
    s64 offset = (s64)trackh * first / total;
    if (offset + length > trackh)
        offset = trackh - length;
    look.target->fillroundedrect(x + trackx, (int)(y + tracky + offset), trackw, (int)length, THUMBRADIUS,
                                 THUMBCOLOUR);
    thumbtop = (s32)(tracky + offset);
    thumbbottom = (s32)(thumbtop + length);
}

// The track, filled from fillx, is remembered at barx: the file list's thumb
// stands one pixel right of its track's left edge.
void guifiledialog::placebar(chooserlist& list, s32 fillx, s32 barx)
{
    scrollbar& bar = list.bar;
    bar.x = barx;
    bar.y = headerheight + 2;
    bar.width = GUIFILEDIALOG_TRACKWIDTH;
    bar.height = listheight - 4;
    look.target->fillrect(x + fillx, y + bar.y, bar.width, bar.height, TRACKCOLOUR);
    drawsb(bar.x, bar.y, bar.width, bar.height, list.count, rows, list.first, bar.thumbtop, bar.thumbbottom);
}

void guifiledialog::drawfolders()
{
    image* t = look.target;
    u32 const* c = look.colors;
    u32 count = folders.count;
    bool hasbar = rows < count;
    s32 space = leftwidth - 8 - (hasbar ? GUIFILEDIALOG_TRACKWIDTH : 0);
    for (u32 i = 0; i < rows && folders.first + i < count; i++) {
        s32 rowy = headerheight + 2 + (s32)(i * rowpitch);
        u32 index = folders.first + i;
        if (foldercursor == index + 1)
            t->fillrect(x + 4, y + rowy, space, (int)rowpitch, c[18]);
        printtext(4, rowy, pixel_opaque(c[10]), folders.get(index), space);
    }
    folders.bar.x = 0;
    if (hasbar)
        placebar(folders, leftwidth - 15, leftwidth - 15);
}

void guifiledialog::drawfiles()
{
    image* t = look.target;
    u32 const* c = look.colors;
    u32 count = files.count;
    bool hasbar = rows < count;
    s32 less = hasbar ? GUIFILEDIALOG_TRACKWIDTH : 0;
    for (u32 i = 0; i < rows && files.first + i < count; i++) {
        s32 rowy = headerheight + 2 + (s32)(i * rowpitch);
        u32 index = files.first + i;
        u32 colour = c[10];
        if (index == selected) {
            t->fillrect(x + leftwidth + 13, y + rowy, width - leftwidth - 16 - less, (int)rowpitch, c[16]);
            colour = c[20];
        }
        printtext(leftwidth + 14, rowy, pixel_opaque(colour), files.get(index), width - leftwidth - 18 - less);
    }
    files.bar.x = 0;
    if (hasbar)
        placebar(files, width - 16, width - 15);
}

void guifiledialog::draw()
{
    image* t = look.target;
    if (!t)
        return;
    u32 const* c = look.colors;
    t->fillrect(x, y, width, height, c[0]);
    if (!(dialogflags & chooser_open))
        return;
    bool keys = (dialogflags & chooser_folderkeys) != 0;
    t->drawroundedrect(x, y + headerheight, leftwidth, listheight, RADIUS, keys ? 2 : 1, keys ? c[6] : c[19]);
    t->drawroundedrect(x + leftwidth + 10, y + headerheight, width - leftwidth - 10, listheight, RADIUS, 1, c[19]);
    bool hover = (dialogflags & chooser_iconhover) != 0;
    if (hover)
        t->drawrect(x, y, 32, 32, c[6]);
    t->copyres(icondirup, sizeof icondirup, x, y);
    if (hover) {
        t->fillrect(x, y + 28, 43, 16, TOOLTIPCOLOUR);
        t->drawrect(x, y + 28, 43, 16, BLACK);
        t->print6x13(x + 4, y + 29, BLACK, "dir up");
    }
    t->setfont(font);
    printtext(40, (GUIFILEDIALOG_ICONSIZE - (s32)(fontsize / 64)) / 2, pixel_opaque(c[10]), path, width - 40);
    drawfolders();
    drawfiles();
    dialogflags &= (u16)~chooser_drawpending;
}

} // namespace kzv
