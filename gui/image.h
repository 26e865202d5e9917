// Raster images: a pixel block of a width, height and pixel format, with clipped
// pixel access, alpha blending, fill, rectangle copies between formats, and the
// drawing primitives. An image owns its block (`open` with a size, taken from its
// pool, freed at reset) or wraps a caller's buffer, which stays the caller's.
// Sizes above IMAGE_MAXSIDE or IMAGE_MAXBYTES, and failed pool requests, leave the
// image without pixels; every operation on such an image draws and reads nothing.
// An image is also a module and, read through its callback, hands out its rows as
// scanline records. Unsupported format pairs are reported on standard error.
#pragma once
#include "../framework/module.h"
#include "pixelformat.h"

namespace kzv {

const u32 IMAGE_MAXSIDE = 32768;            // wider than any screen or terminal we draw on
const u64 IMAGE_MAXBYTES = 0x20000000;      // 512 MiB; an 8K screen at 4 bytes a pixel is 132 MB
const s32 IMAGE_TRACELIMIT = 1 << 24;       // edge coordinates traceedge walks; a walk stays short

// Bits of the module flag byte. Error and end of data sit where the stream readers
// look for them; 0x02 stays free, since a record reader takes it as "starts over".
enum : u8 {
    image_error = 0x01,
    image_endofdata = 0x04,
    image_pixelspresent = 0x08,
    image_recordready = 0x10,
};

enum : s32 { image_owned = 1, image_wrapped = 2 };

// The display back-ends' status byte: bit 0 the image changed since it was last
// sent out, bit 1 a mark of their own.
enum : u8 { imagestatus_changed = 1, imagestatus_mark = 2 };

// Row reader states: 0 start, 3..8 handing out rows (one state per format), 9 end.
enum : u32 { imagerows_start = 0, imagerows_end = 9 };

class image : public module {
public:
    s32 serial;             // a process-wide number, new at construction and every reset
    s32 width;
    s32 height;
    s32 format;
    s32 blocksize;          // bytes of the pixel block, palette included
    u32 rowlength;          // bytes of one row's pixels
    u32 stride;             // row to row, in pixels of the format (bytes for format 1)
    u32 rowstate;
    u32 nextrow;
    u8* rowcursor;
    u8* pixels;             // 16- and 32-bit formats are read through row16 and row32
    u32 const* palette;     // 2 words for format 1, 256 for 8 and 332, else null
    void* ownedblock;       // a further block of the image's, freed at reset
    s32 ownership;          // image_owned or image_wrapped, 0 without pixels
    s32 originx;            // where putscanline places row 0
    s32 originy;
    u8 status;              // imagestatus_ bits
    u32 framecounter;       // frames sent out by a display back-end
    u16 previouschar;       // for kerning while a string is drawn
    u8 const* font;         // the font in use (null: the built-in 6 x 13)
    u8 const* fontheader;   // the font's metrics, 32 bytes into it
    u8 const* fontmap;      // the font's character map

    image() { init(nullptr); }
    explicit image(mem* pool) { init(pool); }
    ~image() { exit(true); }
    image(image const&) = delete;
    image& operator=(image const&) = delete;

    void init(mem* pool);
    void exit(bool keep);
    void mexit();
    static s32 nextserial();        // advances the counter; the terminal screen takes one too

    // Both forms reset the whole record first (font, origin and status included);
    // only the pool and the peers of both pins survive, so a caller that draws
    // text sets its font again after every open. A wrapped buffer must be aligned
    // to its pixel size, with rows a whole number of pixels apart.
    bool open(unsigned xs, unsigned ys, unsigned fmt);
    bool open(void* buf, unsigned xs, unsigned ys, unsigned fmt, unsigned rowbytes);
    bool haspixels() const { return (flags & image_pixelspresent) != 0; }

    void setpixel(int x, int y, unsigned c);
    unsigned getpixel(int x, int y) const;
    unsigned getpixel_truecolor(int x, int y) const;
    void setpixel_fixedalpha(int x, int y, unsigned c, unsigned a);
    void clear(unsigned c);

    void copy(image* src, int dx, int dy, int w, int h, int sx, int sy);
    // Draws a kzv image of encoding 57 that lies in memory (length bytes at res).
    void copyres(u8 const* res, u32 length, int x, int y);
    void copyres_57(u8 const* res, u32 length, int x, int y);

    // Drawing primitives; colours are 0xRRGGBB words, shapes may lie partly or
    // wholly off the image.
    void drawline(int x0, int y0, int x1, int y1, unsigned c, float width);
    void fillcircle(int x, int y, float r, unsigned c);
    void drawrect(int x, int y, int xs, int ys, unsigned c);
    void fillrect(int x, int y, int xs, int ys, unsigned c);
    void fillroundedrect(int x, int y, int xs, int ys, unsigned r, unsigned c);
    void drawroundedrect(int x, int y, int xs, int ys, unsigned r, unsigned linewidth, unsigned c);
    void drawbitmap(int x, int y, unsigned c, char const* pattern);

    // Edge tables for filling a polygon: the points of the edge from (x0, y0) to
    // (x1, y1), stepped as a thin line, widen xmin[y] and xmax[y] for each row y
    // below `rows`; the caller clears both tables to 0 first, and 0 in xmin counts
    // as empty. Points on other rows are skipped. An edge with a coordinate beyond
    // IMAGE_TRACELIMIT leaves the tables alone.
    static void traceedge(int x0, int y0, int x1, int y1, int* xmin, int* xmax, u32 rows);

    // The row reader: the first call after a reset prepares the record and hands
    // out nothing, then one row per call, then the end flag. *out is this image.
    int read(data** out, unsigned max);

    // Text (text.h). A kzv font is chosen by name among the embedded resources or
    // shared by pointer; without one the built-in 6 x 13 font draws. Texts are
    // UTF-16, or UTF-8 taken up to TEXT_MAXUNITS units. Results are x positions
    // and advances in pixels.
    bool setfont(char const* name, unsigned size, bool bold, bool italic);
    bool setfont(unsigned char const* font);
    int putchar(int x, int y, unsigned c, unsigned short ch, int ymax);
    int getcharwidth(unsigned short ch) const;
    int print(int x, int y, unsigned c, char16_t const* s);
    int print(int x, int y, unsigned c, char const* s);
    int textlen(char16_t const* s);
    int textlen(char const* s);
    int putchar6x13(int x, int y, unsigned c, unsigned short ch);
    int putchar8x16(int x, int y, unsigned c, unsigned short ch);
    int print6x13(int x, int y, unsigned c, char const* s);
    int print8x16(int x, int y, unsigned c, char const* s);
    int putchar5x6(int x, int y, unsigned c, unsigned short ch);
    int putcharvar13(int x, int y, unsigned c, unsigned short ch);
    static int charwidthvar13(unsigned short ch);
    static void checkunicodetowin(unsigned short& ch);

    // Scanline exchange, loading and saving (imageio.h). Rows that do not fit
    // are dropped whole; unsupported format pairs are reported on standard error.
    void drawscanline(data* rec, int x, int y);
    void putscanline(data* rec);
    bool drawimage(int x, int y, char const* path);
    bool savekzv(char const* path);
    // Into a new file only; false with `taken` set when the name exists (imageio_savenew).
    bool savekzvnew(char const* path, bool& taken);

    // PNG and BMP files (imagecodecs.cpp), through the png and bmp codec modules.
    // A load opens the image at the file's size and pixel format (888, or 8888 for
    // a PNG with alpha), cleared, and draws every row; a save writes every row of
    // the image. Both return false, and say why on standard error, when the file
    // is missing or cannot be made, the codec refuses it or the stream ends early;
    // a failed save removes the regular file it began.
    bool loadpng(char const* path);
    bool loadbmp(char const* path);
    bool savepng(char const* path);
    bool savebmp(char const* path);

    u8* row8(s32 y) const { return pixels + (uptr)y * stride; }
    u16* row16(s32 y) const { return (u16*)(void*)pixels + (uptr)y * stride; }
    u32* row32(s32 y) const { return (u32*)(void*)pixels + (uptr)y * stride; }

private:
    void reset();
    bool sizefits(unsigned xs, unsigned ys) const;
    void takeblock(unsigned xs, unsigned ys, unsigned fmt, u64 pixelbytes, u64 blockbytes);
    void zerorows();
    void copyrows(image* src, s32 dx, s32 dy, s32 w, s32 h, s32 sx, s32 sy);
    void copybits(image* src, s32 dx, s32 dy, s32 w, s32 h, s32 sx, s32 sy);
    void copyconvert(image* src, s32 dx, s32 dy, s32 w, s32 h, s32 sx, s32 sy);
    void plot(s64 x, s64 y, unsigned c);
    void blendat(s64 x, s64 y, unsigned c, unsigned a);
    void fillspan(s64 x0, s64 x1, s64 y, unsigned c);
    void fillcolumn(s64 x, s64 y0, s64 y1, unsigned c);
    void fillbox(s64 x, s64 y, s64 xs, s64 ys, unsigned c);
    void fillcircle64(s64 x, s64 y, float r, unsigned c);
    void thinline(int x0, int y0, int x1, int y1, unsigned c);
    void thickline(int x0, int y0, int x1, int y1, unsigned c, float h);
    void roundedbox(s64 x, s64 y, s64 xs, s64 ys, unsigned r, unsigned c);
};

sptr image_concb(void* self, unsigned cmd, int a, int b, void const* p);

} // namespace kzv
