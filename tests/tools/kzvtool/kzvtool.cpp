// kzvtool: runs the kzv codec module between files, so that the end-to-end tests
// can check it against an independent reader and writer. Diagnostics go to
// standard error; the exit status is 0 on success, 1 when the codec or a file
// refused, 2 for a usage error.
//   encode FMT W H RAW OUT   an image of format FMT filled from RAW (rows in the
//                            format's memory layout, little-endian words, row after
//                            row without padding) is written to OUT through the
//                            codec and the file stream
//   demo OUT                 a 160 x 100 888 picture of the drawing primitives and the
//                            compiled-in dir-up icon, written to OUT through the codec
//   textdemo OUT             the demo's primitives and icons, a rounded outline and a
//                            text-pattern bitmap, the embedded icons drawn with
//                            drawimage, and text in every font, on a 480 x 300 888
//                            image saved with savekzv; stdout gets one line per text
//                            line: "FONT X Y WIDTH COLOUR"
//   text FONT OUT TEXT...    each TEXT on its own line, black on white, in FONT
//                            (droidmono, 6x13, 8x16, 5x6, var13 or none), saved with
//                            savekzv; stdout gets "MEASURED PRINTED" per line (the
//                            measured width and the advance drawing returned)
//   decode IN OUT            IN (a file, else an embedded resource) is decoded; OUT
//                            gets the line "FORMAT WIDTH HEIGHT COLOR0 COLOR1\n" and
//                            then every decoded row's bytes
#include "../../../framework/fileload.h"
#include "../../../framework/filestream.h"
#include "../../../framework/mem.h"
#include "../../../framework/os.h"
#include "../../../framework/printf.h"
#include "../../../framework/str.h"
#include "../../../framework/sysprocess.h"
#include "../../../gui/image.h"
#include "../../../gui/imageio.h"
#include "../../../gui/text.h"
#include "../../../gui/kzvimage.h"
#include "../../../resources/icondirup.h"

namespace kzv {

namespace {

u32 rowbytes(u32 format, u32 width)
{
    switch (format) {
    case 1: return (width + 7) / 8;
    case 8:
    case 332: return width;
    case 555:
    case 565: return width * 2;
    default: return width * 4;
    }
}

u8* rowstart(image& im, u32 y)
{
    switch (im.format) {
    case 555:
    case 565: return (u8*)im.row16((s32)y);
    case 888:
    case 8888: return (u8*)im.row32((s32)y);
    default: return im.row8((s32)y);
    }
}

bool fillimage(image& im, u32 format, u32 width, u32 height, char const* rawpath)
{
    u64 need = (u64)rowbytes(format, width) * height;
    if (need == 0)
        return true;                // loadfile answers null for an empty file
    unsigned size = 0;
    char* raw = loadfile(rawpath, size);
    if (!raw || size != need) {
        eprintf("kzvtool: %s holds %u bytes, the image needs %u\n", rawpath, size, (u32)need);
        if (raw)
            process->pool.free_int(raw);
        return false;
    }
    u32 n = rowbytes(format, width);
    for (u32 y = 0; y < height; y++)
        memcpy(rowstart(im, y), raw + (uptr)y * n, n);
    process->pool.free_int(raw);
    return true;
}

// The file pulls the encoded bytes from the codec, which pulls rows from the
// image. The source is memory and never blocks, so the pump needs no sleep; a long
// run of "nothing now" means the chain is stuck.
int save(image& im, char const* outpath)
{
    kzvimage codec;
    file out;
    if (!out.create(outpath))
        return 1;
    connect(im.out, codec.in);
    connect(codec.out, out.in);
    u32 idle = 0;
    int r;
    while ((r = out.step(0)) != 0 && idle < 100)
        idle = r == 2 ? idle + 1 : 0;
    out.checkwrite();
    bool failed = codec.hasflag(tstate_error) || out.hasstate(streamstate_error) || idle >= 100 ||
                  !codec.hasflag(tstate_end);
    connect(codec.out, nullptr);
    connect(out.in, nullptr);
    connect(im.out, nullptr);
    connect(codec.in, nullptr);
    out.exit(false);
    if (failed) {
        os_unlink(outpath);
        return 1;
    }
    return 0;
}

int encode(u32 format, u32 width, u32 height, char const* rawpath, char const* outpath)
{
    image im;
    if (!im.open(width, height, format)) {
        eprintf("kzvtool: cannot make a %ux%u image of format %u\n", width, height, format);
        return 1;
    }
    if (!fillimage(im, format, width, height, rawpath))
        return 1;
    return save(im, outpath);
}

// Known colours at known places, for the test to find in the reader's pixels.
void primitives(image& im)
{
    im.fillrect(10, 10, 40, 30, 0xCC2222);
    im.drawrect(8, 8, 44, 34, 0x000000);
    im.fillcircle(90, 30, 18.0f, 0x2255CC);
    im.fillroundedrect(10, 55, 60, 35, 8, 0x22AA44);
    im.drawline(80, 60, 150, 95, 0x000000, 3.0f);
    im.drawline(80, 95, 150, 60, 0x884400, 1.0f);
    im.copyres(icondirup, sizeof icondirup, 120, 5);
}

int demo(char const* outpath)
{
    image im;
    if (!im.open(160, 100, 888))
        return 1;
    im.clear(0xF0F0F0);
    primitives(im);
    return save(im, outpath);
}

// The fonts by the names the tests use; each draws a whole line and answers the
// advance, and measures a line as the dialogs would.
enum textfont { font_none, font_droidmono, font_6x13, font_8x16, font_5x6, font_var13, font_unknown };

textfont fontnamed(char const* name)
{
    static char const* const names[] = {"none", "droidmono", "6x13", "8x16", "5x6", "var13"};
    for (int i = 0; i < font_unknown; i++)
        if (streq(name, names[i]))
            return (textfont)i;
    return font_unknown;
}

int lineheight(textfont f)
{
    switch (f) {
    case font_droidmono: return 15;
    case font_8x16: return 16;
    case font_5x6: return 6;
    default: return 13;
    }
}

// The characters of a line one by one through a built-in font's putchar.
int putchars(image& im, textfont f, int x, int y, unsigned c, char const* text)
{
    u16 units[TEXT_BUFFERUNITS];
    str_utf82unicode(text, units, TEXT_BUFFERUNITS);
    int start = x;
    for (u32 i = 0; units[i]; i++)
        x += f == font_5x6 ? im.putchar5x6(x, y, c, units[i]) : im.putcharvar13(x, y, c, units[i]);
    return x - start;
}

int measure(image& im, textfont f, char const* text)
{
    if (f == font_none || f == font_droidmono)
        return im.textlen(text);
    u16 units[TEXT_BUFFERUNITS];
    u32 n = str_utf82unicode(text, units, TEXT_BUFFERUNITS);
    if (f == font_6x13 || f == font_8x16 || f == font_5x6)
        return (int)n * (f == font_6x13 ? 6 : f == font_8x16 ? 8 : 5);
    int width = 0;
    for (u32 i = 0; i < n; i++)
        width += image::charwidthvar13(units[i]);
    return width;
}

int drawline(image& im, textfont f, int x, int y, unsigned c, char const* text)
{
    switch (f) {
    case font_6x13: return im.print6x13(x, y, c, text) - x;
    case font_8x16: return im.print8x16(x, y, c, text) - x;
    case font_5x6:
    case font_var13: return putchars(im, f, x, y, c, text);
    default: return im.print(x, y, c, text) - x;
    }
}

bool usefont(image& im, textfont f)
{
    return f != font_droidmono || im.setfont("droidmono", 960, false, false);
}

struct demoline {
    textfont font;
    int x, y;
    unsigned colour;
    char const* text;
};

int textdemo(char const* outpath)
{
    static const demoline lines[] = {
        {font_droidmono, 260, 14, 0x202020, "velkra text demo"},
        {font_droidmono, 260, 40, 0x1A4C99, "Open  Cancel  Yes  No"},
        {font_droidmono, 8, 112, 0x000000, "/home/user/Bilder/\xC3\x9C" "bersicht.txt  [OK] {Cancel}"},
        {font_droidmono, 8, 130, 0x000000, "Gr\xC3\xB6\xC3\x9F" "e: 12 \xC2\xB5m, 3 \xCE\xA9, 5 \xE2\x82\xAC \xC2\xA9 \xC2\xAE  @#$%&*"},
        {font_droidmono, 8, 148, 0x8B1A1A, "The quick brown fox jumps over the lazy dog."},
        {font_6x13, 8, 172, 0x000000, "6x13: The quick brown fox 0123456789 \xC3\x84\xC3\x96\xC3\x9C \xC3\xA4\xC3\xB6\xC3\xBC \xC3\x9F"},
        {font_8x16, 8, 192, 0x000000, "8x16: The quick brown fox 0123456789 \xC3\x84\xC3\x96\xC3\x9C\xC3\x9F"},
        {font_5x6, 8, 216, 0x000000, "5x6: the quick brown fox 0123456789"},
        {font_var13, 8, 230, 0x000000, "var13: The quick brown fox jumps over the lazy dog"},
        {font_none, 8, 252, 0x006600, "no font (6x13): \xE2\x80\x9CQuoted\xE2\x80\x9D \xE2\x80\x94 dash\xE2\x80\xA6"},
        {font_droidmono, 8, 274, 0xFFFFFF, "White text on a blue bar"},
    };
    image im;
    if (!im.open(480, 300, 888))
        return 1;
    im.clear(0xF0F0F0);
    primitives(im);
    im.fillrect(4, 270, 260, 22, 0x2255CC);
    // The test knows these two by their places, colours and cells.
    im.drawroundedrect(260, 64, 90, 36, 8, 2, 0x884488);
    im.drawbitmap(370, 70, 0xCC2222,
                  "11,11,"
                  "##.......##"
                  "###.....###"
                  ".###...###."
                  "..###.###.."
                  "...#####..."
                  "....###...."
                  "...#####..."
                  "..###.###.."
                  ".###...###."
                  "###.....###"
                  "##.......##");
    bool drawn = im.drawimage(170, 10, "img/info.kzv") && im.drawimage(210, 10, "img/question.kzv");
    for (demoline const& l : lines) {
        if (l.font == font_none)
            im.font = nullptr;
        else if (!usefont(im, l.font))
            return 1;
        int width = drawline(im, l.font, l.x, l.y, l.colour, l.text);
        printf("%s %d %d %d %u\n", l.font == font_droidmono ? "droidmono" : l.font == font_6x13 ? "6x13"
                                 : l.font == font_8x16 ? "8x16" : l.font == font_5x6 ? "5x6"
                                 : l.font == font_var13 ? "var13" : "none",
               l.x, l.y, width, l.colour);
    }
    if (!drawn || !im.savekzv(outpath))
        return 1;
    return 0;
}

// The texts are the arguments from `first` on.
int text(char const* fontname, char const* outpath, u32 first, u32 count)
{
    textfont f = fontnamed(fontname);
    if (f == font_unknown) {
        eprintf("kzvtool: no font %s\n", fontname);
        return 2;
    }
    image probe;
    if (!usefont(probe, f))
        return 1;
    int widest = 1;
    for (u32 i = 0; i < count; i++)
        widest = kzv_max(widest, measure(probe, f, process->getargv(first + i)));
    int pitch = lineheight(f) + 4;
    image im;
    if (!im.open((unsigned)widest + 8, (unsigned)(count * pitch + 8), 888) || !usefont(im, f))
        return 1;
    im.clear(0xFFFFFF);
    for (u32 i = 0; i < count; i++) {
        char const* line = process->getargv(first + i);
        int printed = drawline(im, f, 4, 4 + (int)i * pitch, 0x000000, line);
        printf("%d %d\n", measure(im, f, line), printed);
    }
    return im.savekzv(outpath) ? 0 : 1;
}

int decode(char const* inpath, char const* outpath)
{
    file in;
    if (!in.open(inpath)) {
        eprintf("kzvtool: cannot open %s\n", inpath);
        return 1;
    }
    file out;
    if (!out.create(outpath))
        return 1;
    kzvimage codec;
    connect(in.out, codec.in);
    data* r = nullptr;
    u32 rows = 0;
    while (codec.call('D', 0, 0, &r) > 0 && rows < 0x100000) {
        kindscanline const& k = r->kind.scanline;
        if (k.line < 0) {
            u32 const* palette = k.palette;
            char line[96];
            printsink text = printsink_memory(line, sizeof line);
            printto(text, "%u %u %u %u %u\n", (u32)k.pixelformat, k.width, k.height,
                    palette ? palette[0] : 0, palette ? palette[1] : 0);
            out.write(line, text.length);
            continue;
        }
        out.write(r->payload, r->size);
        rows++;
    }
    out.checkwrite();
    connect(in.out, nullptr);
    connect(codec.in, nullptr);
    if (codec.hasflag(tstate_error) || !codec.hasflag(tstate_end))
        return 1;
    return out.hasstate(streamstate_error) ? 1 : 0;
}

} // namespace

void memoryinit(unsigned&, unsigned&) {}

void mmain()
{
    char const* command = process->getargv(0);
    int status = 2;
    if (streq(command, "encode") && process->getargc() == 6)
        status = encode((u32)atoi(process->getargv(1)), (u32)atoi(process->getargv(2)),
                        (u32)atoi(process->getargv(3)), process->getargv(4), process->getargv(5));
    else if (streq(command, "demo") && process->getargc() == 2)
        status = demo(process->getargv(1));
    else if (streq(command, "textdemo") && process->getargc() == 2)
        status = textdemo(process->getargv(1));
    else if (streq(command, "text") && process->getargc() >= 4)
        status = text(process->getargv(1), process->getargv(2), 3, process->getargc() - 3);
    else if (streq(command, "decode") && process->getargc() == 3)
        status = decode(process->getargv(1), process->getargv(2));
    else
        eprintf("usage: kzvtool encode FMT W H RAW OUT | demo OUT | textdemo OUT | text FONT OUT TEXT... |"
                " decode IN OUT\n");
    process->exitcode = status;
}

} // namespace kzv
