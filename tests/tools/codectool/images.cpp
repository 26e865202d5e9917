// codectool's image commands: PNG and BMP files to kzv images and back, through
// the image load and save operations and so through the png and bmp codec modules.
//   png2kzv IN OUT   loadpng, then savekzv: encoding 54 (RGB) or 57 (RGBA)
//   bmp2kzv IN OUT   loadbmp, then savekzv: encoding 54
//   kzv2png IN OUT   encodings 54, 55, 57 and 58 as images of format 888, 1 (with
//                    the file's two colours), 8888 and 565, then savepng
//   kzv2bmp IN OUT   the same images, then savebmp: 24-bit or 1-bit files, rows top-down
// Skipped PNG chunks that are not known are noted on standard error as
// "png chunk NAME 0xTYPE", and rows with a filter type above 4, which keep what
// the row held before, as "rs8 TYPE"; refusals print "png error TEXT" or
// "bmp: TEXT", and the image operations name a file they cannot find, read or write.
#include "codectool.h"
#include "../../../codecs/pngdecode.h"
#include "../../../framework/mem.h"
#include "../../../framework/os.h"
#include "../../../framework/printf.h"
#include "../../../framework/str.h"
#include "../../../framework/sysprocess.h"
#include "../../../gui/image.h"
#include "../../../gui/kzvcodec.h"

namespace kzv {

namespace {

bool refused(char const* what, char const* path)
{
    codectool_fail(what, path);
    return false;
}

int tokzv(bool frompng, char const* inpath, char const* outpath)
{
    image im;
    if (!(frompng ? im.loadpng(inpath) : im.loadbmp(inpath)))
        return 1;                   // the load has said why
    return im.savekzv(outpath) ? 0 : codectool_fail("cannot write", outpath);
}

// A kzv file decoded whole into an image of its pixel format.
struct kzvpicture {
    u32 palette[2] = {0, 0};
    image im;

    bool load(char const* path);
    bool decoderows(kzvheader const& h, u8 const* file, u32 length, char const* path);
    u8* rowat(u32 y)
    {
        return im.format == 1 ? im.row8((s32)y) : im.format == 565 ? (u8*)im.row16((s32)y) : (u8*)im.row32((s32)y);
    }
};

bool kzvpicture::load(char const* path)
{
    u32 length = 0;
    u8* file = codectool_load(path, length);
    if (!file)
        return refused("cannot read", path);
    kzvheader h;
    bool ok = kzv_readheader(file, length, h) == kzv_ok;
    if (!ok)
        refused("not a kzv image:", path);
    else if (!im.open(h.width, h.height, kzv_pixelformat(h.encoding)))
        ok = refused("no memory for", path);
    ok = ok && decoderows(h, file, length, path);
    process->pool.freemem(file);
    if (ok && im.format == 1) {
        // The file's two colours in place of the image's own black and white.
        palette[0] = h.color0;
        palette[1] = h.color1;
        im.palette = palette;
    }
    return ok;
}

bool kzvpicture::decoderows(kzvheader const& h, u8 const* file, u32 length, char const* path)
{
    u32 rowlength = kzv_rowlength(h.encoding, h.width);
    u32* row = (u32*)process->pool.getmem(rowlength + 4);
    if (!row)
        return refused("no memory for", path);
    kzvdecoder d;
    d.start(h);
    u32 at = KZV_HEADERSIZE;
    bool ok = true;
    while (ok && !d.finished()) {
        at += d.decode(file + at, length - at, row);
        ok = d.rowcomplete() || refused("cut short:", path);
        if (ok)
            memcpy(rowat(d.line), row, rowlength);
        d.nextrow();
    }
    process->pool.freemem(row);
    return ok;
}

int fromkzv(bool topng, char const* inpath, char const* outpath)
{
    kzvpicture picture;
    if (!picture.load(inpath))
        return 1;
    return (topng ? picture.im.savepng(outpath) : picture.im.savebmp(outpath)) ? 0 : 1;   // the save has said why
}

} // namespace

int codectool_benchpng(u8 const* file, u32 length, u32 reps)
{
    u64 pixelbytes = 0;
    u32 start = os_getus32();
    for (u32 r = 0; r < reps; r++) {
        pngdecoder d;
        d.init(&process->pool);
        d.next = file;
        d.end = file + length;
        pixelbytes = 0;
        int e;
        while ((e = d.run()) == png_row || e == png_header || e == png_chunknote)
            pixelbytes += e == png_row ? (u64)d.width * 4 : 0;
        if (e == png_needinput)
            e = d.finish();
        d.exit();
        if (e != png_end) {
            eprintf("png error %s\n", d.message);
            return 1;
        }
    }
    printf("%u %u\n", pixelbytes, (u64)(os_getus32() - start));
    return 0;
}

int codectool_image(char const* command, char const* inpath, char const* outpath)
{
    if (streq(command, "png2kzv") || streq(command, "bmp2kzv"))
        return tokzv(command[0] == 'p', inpath, outpath);
    if (streq(command, "kzv2png") || streq(command, "kzv2bmp"))
        return fromkzv(command[4] == 'p', inpath, outpath);
    return -1;
}

} // namespace kzv
