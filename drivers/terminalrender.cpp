// The text-UI mode of the renderer: colours, clipping, drawing into the cell grid,
// images, and the update that sends only the cells whose look changed (a blank and
// a half block of one colour look alike, and such a cell goes out as a blank).
// Facts it relies on: the 256-colour palette has the basic 16 colours at 0-15, a
// 6x6x6 cube at 16-231 and a grey ramp at 232-255; SGR 30-37/40-47 select the
// basic colours and 90-97/100-107 the bright ones; a space shows only its
// background; ESC [ row ; column H moves the cursor (1-based). Every drawing loop
// runs over the part of its shape that lies on the screen, so huge or negative
// sizes cost nothing and write nothing outside the grid.
#include "ansiterminal.h"
#include "ansicodes.h"
#include "../framework/mem.h"
#include "../framework/os.h"
#include "../framework/printf.h"
#include "../framework/str.h"
#include "../framework/stream.h"
#include "../framework/sysprocess.h"
#include "../gui/image.h"

namespace kzv {

namespace {

// Box codes 1-11 as box-drawing characters and as ASCII.
const u16 BOX_UNICODE[12] = {0, 0x250C, 0x2510, 0x2500, 0x2514, 0x2518, 0x2502, 0x252C, 0x2534, 0x251C, 0x2524, 0x253C};
const char BOX_ASCII[12] = {' ', '+', '+', '-', '+', '+', '|', '+', '+', '+', '+', '+'};

const u32 SHADOW_BASIC = 7;         // grey among the basic colours
const u32 SHADOW_256 = 243;         // a dark grey of the ramp
const u32 NO_RGB = 0xFFFFFFFF;      // no RGB word equals it: the cache converts the next one

s32 clamp32(s64 v) { return (s32)(v < -0x40000000 ? -0x40000000 : v > 0x40000000 ? 0x40000000 : v); }

} // namespace

// --- Encoding -------------------------------------------------------------------

u32 term_colorindex(u32 rgb, u8 depth)
{
    u32 r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    u32 basic = (r ? 1 : 0) + (g ? 2 : 0) + (b ? 4 : 0);
    switch (depth) {
    case depth_256:
        if (r == g && g == b)
            return 232 + r / 11;
        return 16 + 36 * (r / 43) + 6 * (g / 43) + b / 43;
    case depth_16:
        return basic + ((r > 128 || g > 128 || b > 128) ? 8 : 0);
    case depth_8:
        return basic;
    default:
        return 0;
    }
}

// A channel counts from half intensity up, so dark anti-aliased ink on a light
// face stays apart from it: light grey comes out white and dark grey black.
u32 term_color3(u32 rgb)
{
    u32 r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    return (r >= TERM_HALFINTENSITY ? 1 : 0) + (g >= TERM_HALFINTENSITY ? 2 : 0) +
           (b >= TERM_HALFINTENSITY ? 4 : 0);
}

u32 term_decimal(u8* out, u32 v)
{
    u8 digits[10];
    u32 n = 0;
    do {
        digits[n++] = (u8)('0' + v % 10);
        v /= 10;
    } while (v);
    for (u32 i = 0; i < n; i++)
        out[i] = digits[n - 1 - i];
    return n;
}

// ESC [, the start of every control sequence.
static u32 term_csi(u8* out)
{
    out[0] = ctl_escape;
    out[1] = esc_csi;
    return 2;
}

u32 term_cursorto(u8* out, u32 row, u32 column)
{
    u32 n = term_csi(out);
    n += term_decimal(out + n, row);
    out[n++] = csi_separator;
    n += term_decimal(out + n, column);
    out[n++] = csi_position;
    return n;
}

u32 term_cursortocolumn(u8* out, u32 column)
{
    u32 n = term_csi(out);
    n += term_decimal(out + n, column);
    out[n++] = csi_column;
    return n;
}

u32 term_sgr(u8* out, u32 index, bool background)
{
    u32 n = term_csi(out);
    index &= 0xFF;
    if (index < 16) {
        u32 base = index < 8 ? (background ? 40 : 30) : (background ? 92 : 82);
        n += term_decimal(out + n, base + index);
    } else {
        out[n++] = background ? '4' : '3';
        out[n++] = '8';
        out[n++] = csi_separator;
        out[n++] = '5';
        out[n++] = csi_separator;
        n += term_decimal(out + n, index);
    }
    out[n++] = csi_sgr;
    return n;
}

u32 term_utf8(u8* out, u32 unit)
{
    unit &= 0xFFFF;
    if (unit < 0x80) {
        out[0] = (u8)unit;
        return 1;
    }
    if (unit < 0x800) {
        out[0] = (u8)(0xC0 | unit >> 6);
        out[1] = (u8)(0x80 | (unit & 0x3F));
        return 2;
    }
    out[0] = (u8)(0xE0 | unit >> 12);
    out[1] = (u8)(0x80 | ((unit >> 6) & 0x3F));
    out[2] = (u8)(0x80 | (unit & 0x3F));
    return 3;
}

u32 term_charbytes(u8* out, u32 ch, bool utf8boxes)
{
    ch &= 0xFFFF;
    if (ch >= box_topleft && ch <= box_cross) {
        if (utf8boxes)
            return term_utf8(out, BOX_UNICODE[ch]);
        out[0] = (u8)BOX_ASCII[ch];
        return 1;
    }
    if (ch < 32) {
        out[0] = ' ';
        return 1;
    }
    if ((ch >= 0xD800 && ch <= 0xDFFF) || ch == 0xFFFF)
        ch = uchar_replacement;     // a lone surrogate half is no character
    return term_utf8(out, ch);
}

u32 term_parsecellsize(char const* text)
{
    if (!text || !text[0])
        return 0;
    u32 v = 0;
    for (; *text; text++) {
        if (*text < '0' || *text > '9')
            return 0;
        v = v * 10 + (u32)(*text - '0');
        if (v > TERM_MAXCELLSIZE)
            return 0;
    }
    return v;
}

// --- Colours and clipping -----------------------------------------------------------

u32 ansiterminal::getcolorindex(u32 rgb) const { return term_colorindex(rgb, colordepth); }

void ansiterminal::termsetcolors(int n)
{
    u8 depth;
    switch (n) {
    case 0: case 2: depth = depth_none; break;
    case 8: depth = depth_8; break;
    case 16: depth = depth_16; break;
    case 240: case 256: depth = depth_256; break;
    default: return;
    }
    if (depth == colordepth)
        return;
    colordepth = depth;
    fgrgb = NO_RGB;             // the cached indices belong to the old depth
    bgrgb = NO_RGB;
}

// The one-entry caches: a new RGB word is converted only when it differs from the
// last one.
u32 ansiterminal::cachedindex(u32 rgb, u32& cachedrgb, u32& cell, u32 shift)
{
    rgb &= 0xFFFFFF;
    if (rgb != cachedrgb) {
        cachedrgb = rgb;
        cell = getcolorindex(rgb) << shift;
    }
    return (cell >> shift) & 0xFF;
}

u32 ansiterminal::foreground(u32 rgb) { return cachedindex(rgb, fgrgb, fgcell, 16); }

u32 ansiterminal::background(u32 rgb) { return cachedindex(rgb, bgrgb, bgcell, 24); }

void ansiterminal::termsetclipping(int x, int y, int w, int h)
{
    s64 right = (s64)x + w - 1, bottom = (s64)y + h - 1;
    clip.limited = true;
    clip.x0 = kzv_max(x, 0);
    clip.y0 = kzv_max(y, 0);
    clip.x1 = clamp32(kzv_min(kzv_max(right, (s64)-1), (s64)columns - 1));
    clip.y1 = clamp32(kzv_min(kzv_max(bottom, (s64)-1), (s64)rows - 1));
}

// An unlimited rectangle shrinks from the screen's edges.
void ansiterminal::termshrinkclipping(int a)
{
    if (!clip.limited) {
        clip.limited = true;
        clip.x0 = 0;
        clip.y0 = 0;
        clip.x1 = columns - 1;
        clip.y1 = rows - 1;
    }
    clip.x0 = clamp32((s64)clip.x0 + a);
    clip.y0 = clamp32((s64)clip.y0 + a);
    clip.x1 = clamp32((s64)clip.x1 - a);
    clip.y1 = clamp32((s64)clip.y1 - a);
}

void ansiterminal::termnoclipping() { clip.limited = false; }

bool ansiterminal::canwrite(s64 x, s64 y) const
{
    if (mode != termmode_tui || x < 0 || y < 0 || x >= columns || y >= rows)
        return false;
    return !clip.limited || (x >= clip.x0 && x <= clip.x1 && y >= clip.y0 && y <= clip.y1);
}

// --- Drawing ---------------------------------------------------------------------

// Character and foreground; the background stays.
void ansiterminal::setcellchar(s64 x, s64 y, u32 fg, u32 ch)
{
    if (!canwrite(x, y))
        return;
    u32& cell = grid[y * columns + x];
    cell = (cell & 0xFF000000) | (fg & 0xFF) << 16 | (ch & 0xFFFF);
}

void ansiterminal::termputchar(int x, int y, u32 rgb, u32 ch)
{
    if (mode != termmode_tui)
        return;
    setcellchar(x, y, foreground(rgb), ch);
}

// Every character advances the column, drawn or clipped; LF goes to the next row
// at the first column, CR back to the first column.
void ansiterminal::termputstring(int x, int y, u32 rgb, u16 const* text)
{
    if (mode != termmode_tui || !text)
        return;
    u32 fg = foreground(rgb);
    s64 cx = x, cy = y;
    for (; *text && cy < rows; text++) {
        u32 u = *text;
        if (u == 10) {
            cy++;
            cx = x;
        } else if (u == 13) {
            cx = x;
        } else {
            setcellchar(cx, cy, fg, u == 128 ? uchar_euro : u);
            cx++;
        }
    }
}

void ansiterminal::termputstring8(int x, int y, u32 rgb, char const* text)
{
    if (mode != termmode_tui || !text)
        return;
    u16 units[TERM_MAXSTRING + 1];
    str_utf82unicode(text, units, TERM_MAXSTRING + 1);
    termputstring(x, y, rgb, units);
}

void ansiterminal::termfillrect(int x, int y, int w, int h, u32 rgb)
{
    if (mode != termmode_tui)
        return;
    u32 cell = ' ' | background(rgb) << 24;
    s64 x1 = kzv_min((s64)x + w, (s64)columns), y1 = kzv_min((s64)y + h, (s64)rows);
    for (s64 cy = kzv_max(y, 0); cy < y1; cy++)
        for (s64 cx = kzv_max(x, 0); cx < x1; cx++)
            if (canwrite(cx, cy))
                grid[cy * columns + cx] = cell;
}

// Only vertical and horizontal lines. A horizontal line that meets a vertical one
// turns the meeting cells into T pieces at its ends and crosses between them.
void ansiterminal::termdrawline(int x1, int y1, int x2, int y2, u32 rgb)
{
    if (mode != termmode_tui)
        return;
    u32 fg = foreground(rgb);
    if (x1 == x2) {
        if (x1 < 0 || x1 >= columns)
            return;
        s64 top = kzv_max(kzv_min(y1, y2), 0), bottom = kzv_min(kzv_max(y1, y2), rows - 1);
        for (s64 y = top; y <= bottom; y++)
            setcellchar(x1, y, fg, box_vertical);
        return;
    }
    if (y1 != y2 || y1 < 0 || y1 >= rows)
        return;
    s64 first = kzv_min(x1, x2), last = kzv_max(x1, x2);
    for (s64 x = kzv_max(first, (s64)0); x <= last && x < columns; x++) {
        u32 code = box_horizontal;
        if (cell_char(grid[(s64)y1 * columns + x]) == box_vertical)
            code = x == first ? box_teeright : x == last ? box_teeleft : box_cross;
        setcellchar(x, y1, fg, code);
    }
}

void ansiterminal::termdrawrect(int x, int y, int w, int h, u32 rgb)
{
    if (mode != termmode_tui)
        return;
    u32 fg = foreground(rgb);
    s64 right = (s64)x + w - 1, bottom = (s64)y + h - 1;
    for (s64 cx = kzv_max((s64)x + 1, (s64)0); cx <= right - 1 && cx < columns; cx++) {
        setcellchar(cx, y, fg, box_horizontal);
        setcellchar(cx, bottom, fg, box_horizontal);
    }
    for (s64 cy = kzv_max((s64)y + 1, (s64)0); cy <= bottom - 1 && cy < rows; cy++) {
        setcellchar(x, cy, fg, box_vertical);
        setcellchar(right, cy, fg, box_vertical);
    }
    setcellchar(x, y, fg, box_topleft);
    setcellchar(right, y, fg, box_topright);
    setcellchar(x, bottom, fg, box_bottomleft);
    setcellchar(right, bottom, fg, box_bottomright);
}

void ansiterminal::termdrawshadow(int x, int y, int w, int h)
{
    if (mode != termmode_tui)
        return;
    u32 index = colordepth == depth_256 ? SHADOW_256
              : (colordepth == depth_8 || colordepth == depth_16) ? SHADOW_BASIC : 0;
    s64 right = (s64)x + w, bottom = (s64)y + h;
    for (s64 cx = kzv_max((s64)x + 2, (s64)0); cx <= right + 1 && cx < columns; cx++)
        if (canwrite(cx, bottom))
            grid[bottom * columns + cx] = cell_char(grid[bottom * columns + cx]) | index << 16;
    for (s64 cy = kzv_max((s64)y + 1, (s64)0); cy <= bottom - 1 && cy < rows; cy++)
        for (s64 cx = right; cx <= right + 1; cx++)
            if (canwrite(cx, cy))
                grid[cy * columns + cx] = cell_char(grid[cy * columns + cx]) | index << 16;
}

void ansiterminal::termdrawsmallshadow(int x, int y, int w, int h)
{
    if (mode != termmode_tui || !(options & termoption_smallshadows))
        return;
    s64 right = (s64)x + w, bottom = (s64)y + h;
    for (s64 cx = kzv_max((s64)x + 1, (s64)0); cx <= right && cx < columns; cx++)
        if (canwrite(cx, bottom)) {
            u32& cell = grid[bottom * columns + cx];
            cell = (cell & 0xFF000000) | uchar_upperhalf;
        }
    if (canwrite(right, bottom - 1)) {
        u32& cell = grid[(bottom - 1) * columns + right];
        cell = uchar_upperhalf | cell_bg(cell) << 16;
    }
}

void ansiterminal::terminvertchar(int x, int y)
{
    if (mode != termmode_tui || x < 0 || y < 0 || x >= columns || y >= rows)
        return;
    u32& cell = grid[(s64)y * columns + x];
    cell = cell_make(cell_char(cell), cell_bg(cell), cell_fg(cell));
}

// Raw cells into one row of whichever grid exists; what does not fit is left out.
void ansiterminal::termputcells(int x, int y, u32 const* cells, u32 count)
{
    if (!grid || !cells || x < 0 || y < 0 || x >= columns || y >= rows)
        return;
    u32 n = kzv_min(count, (u32)(columns - x));
    memcpy(grid + (s64)y * columns + x, cells, n * 4);
}

// --- Images ------------------------------------------------------------------------

void ansiterminal::termdrawimage(int x, int y, image* im)
{
    if (mode != termmode_tui || !im)
        return;
    // Both cell sizes are divisors below, and the files need a directory.
    if (cellwidth && cellheight && directory && directory[0])
        drawimagemarks(y, im);
    else
        termdrawimagenographic(x, y, im);
}

// The shared directory may be writable by others, and the names are easy to
// guess: each frame goes into a file made new for this user only, never through
// a link. A name that is taken is cleared only when it holds a regular file of
// ours (an earlier frame of that name); anything else there (a link, a folder,
// another user's file) stays untouched and that frame is not written.
void ansiterminal::saveframe(image* im)
{
    // The name adds 19 characters; the room beyond them keeps every conversion
    // of the formatting engine clear of its stop rule.
    char path[TERM_PATHCAPACITY];
    u32 length = strlen(directory);
    bool fits = length + 64 <= TERM_PATHCAPACITY;
    if (fits)
        fits = vprinter_format(path, sizeof(path), sizeof(path), "%s/tuiimg_%04x_%04x_%x", directory,
                               (u32)os_getpid() & 0xFFFF, (u32)im->serial & 0xFFFF,
                               im->framecounter & 7) == length + 19;
    bool taken = false;
    if (fits && im->savekzvnew(path, taken))
        return;
    if (taken && os_isownfile(path) && os_unlink(path) && im->savekzvnew(path, taken))
        return;
    if (savefailed)
        return;
    savefailed = true;
    if (taken)
        eprintf("terminal: %s is not a file of ours; frames of that name are not written\n", path);
    else
        eprintf("terminal: cannot write the image file in %s\n", directory);
}

// The outside terminal program finds each covered row by its marks: the frame,
// the row number (from 1), the process id and the image's serial number, each in
// the low byte of a private-use character, then plain marks to the image's width.
void ansiterminal::drawimagemarks(int y, image* im)
{
    if (im->status & imagestatus_changed) {
        im->status &= (u8)~imagestatus_changed;
        if (++im->framecounter == 0)
            im->framecounter = 1;
        saveframe(im);
    }
    u64 wide = ((u64)kzv_max(im->width, 0) + cellwidth - 1) / cellwidth;
    u64 high = ((u64)kzv_max(im->height, 0) + cellheight - 1) / cellheight;
    s64 column = clip.limited ? kzv_max(clip.x0, 0) : 0;
    s64 top = kzv_max((s64)y, clip.limited ? (s64)kzv_max(clip.y0, 0) : (s64)0);
    u32 pid = (u32)os_getpid() & 0xFFFF;
    u32 serial = (u32)im->serial & 0xFFFF;
    u32 first = uchar_privatemark | (im->framecounter & 0x7F) | ((im->status & imagestatus_mark) ? 0x80 : 0);
    u64 count = kzv_min(wide, column < columns ? (u64)(columns - column) : (u64)0);
    for (u64 i = 1; i <= high && top + (s64)i - 1 < rows; i++) {
        u32 marks[6] = {first, uchar_privatemark | (u32)i, uchar_privatemark | (pid & 0xFF),
                        uchar_privatemark | pid >> 8, uchar_privatemark + (serial & 0xFF),
                        uchar_privatemark + (serial >> 8)};
        u32* row = grid + (top + (s64)i - 1) * columns + column;
        for (u64 j = 0; j < count; j++)
            row[j] = j < 6 ? marks[j] : uchar_privatemark;
    }
}

// Two pixels of one column a cell: the lower half block in the lower pixel's
// colour on the upper pixel's colour.
void ansiterminal::termdrawimagenographic(int x, int y, image* im)
{
    if (mode != termmode_tui || !im || im->height < 2)
        return;
    // A rectangle grown past the screen by a negative shrink still starts on it.
    s64 left = kzv_max((s64)x, clip.limited ? (s64)kzv_max(clip.x0, 0) : (s64)0);
    s64 top = kzv_max((s64)y, clip.limited ? (s64)kzv_max(clip.y0, 0) : (s64)0);
    for (s32 i = 0; i < im->height / 2 && top + i < rows; i++) {
        u32* row = grid + (top + i) * columns;
        for (s32 j = 0; j < im->width && left + j < columns; j++) {
            u32 upper = term_color3(im->getpixel_truecolor(j, 2 * i));
            u32 lower = term_color3(im->getpixel_truecolor(j, 2 * i + 1));
            row[left + j] = cell_make(uchar_lowerhalf, lower, upper);
        }
    }
}

void ansiterminal::lookupgraphicinfo()
{
    char value[TERM_ENVCAPACITY];
    if (!process->getenv("KZVTERM_CXS", value, sizeof(value)))
        return;
    u32 w = term_parsecellsize(value);
    u32 h = process->getenv("KZVTERM_CYS", value, sizeof(value)) ? term_parsecellsize(value) : 0;
    if (!w || !h)
        return;
    // A value as long as getenv hands out may have been cut, and a cut directory
    // names another place: it is not used, and the pictures go out as half blocks.
    if (process->getenv("KZVTERM_TMP", value, sizeof(value)) && value[0]) {
        if (strlen(value) + 1 < sizeof(value)) {
            owneddirectory = pool->getstring(value);
            directory = owneddirectory;
        } else {
            eprintf("terminal: KZVTERM_TMP is too long, no image files are written\n");
        }
    }
    cellwidth = w;
    cellheight = h;
    modeflags |= termflag_graphicavailable;
}

bool ansiterminal::termgetgraphicinfo(comstruct* p)
{
    if (!(modeflags & termflag_graphiclookedup)) {
        modeflags |= termflag_graphiclookedup;
        lookupgraphicinfo();
    }
    if (!(modeflags & termflag_graphicavailable)) {
        memset0(p, sizeof(*p));
        return false;
    }
    p->v[0] = cellwidth;
    p->v[1] = cellheight;
    p->v[2] = 0;
    p->pointer = directory;
    return true;
}

void ansiterminal::setgraphicinfo(u32 width, u32 height, char const* dir)
{
    if (owneddirectory)
        pool->free_int(owneddirectory);
    owneddirectory = nullptr;
    cellwidth = width;
    cellheight = height;
    directory = dir;
    modeflags |= termflag_graphiclookedup | termflag_graphicavailable;
}

// --- Update ------------------------------------------------------------------------

void ansiterminal::flushline()
{
    send(linebuf, linelength);
    linelength = 0;
}

void ansiterminal::appendline(u8 const* bytes, u32 count)
{
    if (linelength + count > linecapacity)
        flushline();
    memcpy(linebuf + linelength, bytes, count);
    linelength += count;
}

// A blank (a zero cell goes out as a space) shows its background alone, and so
// does a half block whose halves have one colour, where colours are sent.
static bool issolid(u32 cell)
{
    u32 ch = cell_char(cell);
    return ch == 0 || ch == ' ' ||
           ((ch == uchar_lowerhalf || ch == uchar_upperhalf) && cell_fg(cell) == cell_bg(cell));
}

// What a cell shows where colours are sent: a solid cell its background, every
// other cell itself.
static u32 appearance(u32 cell) { return issolid(cell) ? cell_make(' ', 0, cell_bg(cell)) : cell; }

// Two cells that look the same on the terminal need no update of one by the other.
bool ansiterminal::looksalike(u32 a, u32 b) const
{
    return a == b || (colordepth >= depth_8 && appearance(a) == appearance(b));
}

// One run of a row: the cursor move, then each cell with the colour sequences it
// needs. A solid cell goes out as one space on its background and needs no
// foreground, so a stretch of one colour costs one byte a cell and at most one
// colour sequence. The buffer goes out whenever it holds more than twice the
// column count, so it never holds more than that plus one cell (2 x columns + 64
// is its size).
void ansiterminal::sendrun(s32 row, s32 first, s32 last, s32& lastfg, s32& lastbg)
{
    u8 piece[TERM_MAXCELLBYTES];
    u32 n = term_cursorto(piece, (u32)row + 1, (u32)first + 1);
    linelength = 0;
    appendline(piece, n);
    bool colours = colordepth >= depth_8;
    bool boxes = (options & termoption_utf8boxes) != 0;
    u32 const* cells = grid + (s64)row * columns;
    for (s32 x = first; x <= last; x++) {
        u32 cell = cells[x];
        bool blank = colours && issolid(cell);
        n = 0;
        if (colours && !blank && (s32)cell_fg(cell) != lastfg) {
            lastfg = (s32)cell_fg(cell);
            n += term_sgr(piece + n, (u32)lastfg, false);
        }
        if (colours && (s32)cell_bg(cell) != lastbg) {
            lastbg = (s32)cell_bg(cell);
            n += term_sgr(piece + n, (u32)lastbg, true);
        }
        if (blank)
            piece[n++] = ' ';
        else
            n += term_charbytes(piece + n, cell_char(cell), boxes);
        appendline(piece, n);
        if (linelength > 2 * (u32)columns)
            flushline();
    }
    flushline();
}

void ansiterminal::termupdate(bool full)
{
    if (mode != termmode_tui || !grid)
        return;
    in.call(stream_setbuffering, 1, 0, nullptr);
    s32 lastfg = -1, lastbg = -1;       // unset: no cell matches them
    bool sent = false;
    for (s32 y = 0; y < rows; y++) {
        u32 const* now = grid + (s64)y * columns;
        u32* shown = shadow + (s64)y * columns;
        s32 first = 0, last = columns - 1;
        if (!full) {
            while (first < columns && looksalike(now[first], shown[first]))
                first++;
            if (first == columns)
                continue;
            while (looksalike(now[last], shown[last]))
                last--;
        }
        memcpy(shown + first, now + first, (u32)(last - first + 1) * 4);
        sendrun(y, first, last, lastfg, lastbg);
        sent = true;
    }
    if (sent)
        sendtext("\x1b[1;1H\x1b(B");
    in.call(stream_setbuffering, 0, 0, nullptr);
}

} // namespace kzv
