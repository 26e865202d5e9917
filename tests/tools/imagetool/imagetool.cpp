// imagetool: drives the image code for the end-to-end tests and the benchmark.
// Diagnostics go to standard error; the exit status is 0 on success, 1 when a
// file or an image could not be made, 2 for a usage error.
//   pack FMT W H IN OUT   IN holds W x H little-endian 0xAARRGGBB words; they are
//                         copied into an image of format FMT, whose rows (in the
//                         format's memory layout, no padding) are written to OUT
//   scene FMT OUT         a fixed set of primitives drawn in format FMT; OUT gets
//                         the 320 x 200 pixels as little-endian 0x00RRGGBB words
//   bench                 times the hot operations and prints the figures
//   diagnostics DIR       runs every refused image operation once (copies between
//                         unsupported formats, rounded rectangles on format 1, a
//                         foreign in-memory image, unsupported and over-wide
//                         scanlines, bad and missing files to draw, a 555 save into
//                         DIR); each says so on standard error, and nothing at all
//                         goes to standard output
#include "../../../framework/fileload.h"
#include "../../../framework/path.h"
#include "../../../framework/mem.h"
#include "../../../framework/os.h"
#include "../../../framework/printf.h"
#include "../../../framework/str.h"
#include "../../../framework/sysprocess.h"
#include "../../../gui/blit.h"
#include "../../../gui/image.h"
#include "../../../gui/scanline.h"

namespace kzv {

namespace {

bool writeall(char const* path, u8 const* bytes, u64 count)
{
    int fd = os_fopen(path, 3);
    if (!fd) {
        eprintf("imagetool: cannot create %s\n", path);
        return false;
    }
    while (count > 0) {
        unsigned piece = count > 0x100000 ? 0x100000u : (unsigned)count;
        int n = os_write(fd, bytes, piece);
        if (n <= 0) {
            os_close(fd);
            eprintf("imagetool: cannot write %s\n", path);
            return false;
        }
        bytes += n;
        count -= (u64)n;
    }
    os_close(fd);
    return true;
}

u8* rowstart(image& im, s32 y)
{
    switch (im.format) {
    case 555:
    case 565: return (u8*)im.row16(y);
    case 888:
    case 8888: return (u8*)im.row32(y);
    default: return im.row8(y);
    }
}

int pack(u32 format, u32 width, u32 height, char const* inpath, char const* outpath)
{
    unsigned size = 0;
    char* raw = loadfile(inpath, size);
    if (!raw || (u64)size != (u64)width * height * 4) {
        eprintf("imagetool: %s does not hold %u x %u words\n", inpath, width, height);
        return 1;
    }
    image src, dst;
    if (!src.open(width, height, 8888) || !dst.open(width, height, format)) {
        eprintf("imagetool: cannot make the images\n");
        return 1;
    }
    u8 const* p = (u8 const*)raw;
    for (u32 y = 0; y < height; y++)
        for (u32 x = 0; x < width; x++, p += 4)
            src.row32((s32)y)[x] = (u32)p[0] | (u32)p[1] << 8 | (u32)p[2] << 16 | (u32)p[3] << 24;
    process->pool.freemem(raw);
    dst.clear(0);
    dst.copy(&src, 0, 0, 0, 0, 0, 0);
    u8* out = (u8*)process->pool.getmem((u64)dst.rowlength * height + 16);
    if (!out)
        return 1;
    for (u32 y = 0; y < height; y++)
        memcpy(out + (uptr)y * dst.rowlength, rowstart(dst, (s32)y), dst.rowlength);
    bool ok = writeall(outpath, out, (u64)dst.rowlength * height);
    process->pool.freemem(out);
    return ok ? 0 : 1;
}

// The shapes the scene test measures; the positions are the test's too.
void drawscene(image& im)
{
    im.clear(0xF0F0F0);
    im.fillrect(0, 0, 320, 200, 0xF0F0F0);     // clear leaves format 8 as it was
    im.fillrect(10, 10, 60, 40, 0xCC2222);
    im.drawrect(8, 60, 64, 30, 0x000000);
    im.fillcircle(120, 40, 25.0f, 0x2255CC);
    im.fillcircle(180, 40, 6.5f, 0x2255CC);
    im.fillroundedrect(210, 10, 100, 40, 10, 0x22AA44);
    im.drawroundedrect(210, 60, 100, 40, 6, 3, 0x114488);
    for (int i = 0; i < 8; i++)
        im.drawline(10 + i * 12, 110, 10 + i * 20, 190, 0x000000, 1.0f);
    im.drawline(120, 110, 310, 130, 0x000000, 1.0f);
    im.drawline(120, 150, 300, 190, 0x884400, 4.0f);
    im.drawline(120, 120, 120, 190, 0x008800, 3.0f);
    im.drawbitmap(200, 100, 0xAA00AA, "5,5,#...#.#.#...#...#.#.#...#");
    im.drawline(-1000000, 199, 1000000, 199, 0x0000FF, 1.0f);
}

int scene(u32 format, char const* outpath)
{
    const u32 W = 320, H = 200;
    image im;
    if (!im.open(W, H, format)) {
        eprintf("imagetool: cannot make a %u image\n", format);
        return 1;
    }
    drawscene(im);
    u32* out = (u32*)process->pool.getmem((u64)W * H * 4);
    if (!out)
        return 1;
    for (u32 y = 0; y < H; y++)
        for (u32 x = 0; x < W; x++) {
            u32 v = im.getpixel_truecolor((int)x, (int)y);
            if (format == 1 || format == 8)
                v = im.palette[v];
            out[y * W + x] = v & 0xFFFFFF;
        }
    bool ok = writeall(outpath, (u8 const*)out, (u64)W * H * 4);
    process->pool.freemem(out);
    return ok ? 0 : 1;
}

// ---- benchmark -------------------------------------------------------------

u32 elapsedus(u32 start) { return os_getus32() - start; }

void figure(char const* what, u32 us, u32 runs)
{
    printf("%8u us per run  %s (%u runs)\n", us / runs, what, runs);
}

int bench()
{
    image screen, window16, icon;
    if (!screen.open(1920, 1080, 888) || !window16.open(750, 550, 565) || !icon.open(32, 32, 8888))
        return 1;
    icon.clear(0x80FFFFFF);
    const u32 N = 20;
    u32 t = os_getus32();
    for (u32 i = 0; i < N; i++)
        screen.clear(0x102030 + i);
    figure("clear 1920x1080 888", elapsedus(t), N);
    t = os_getus32();
    for (u32 i = 0; i < N; i++)
        screen.fillrect(0, 0, 1920, 1080, 0x203040 + i);
    figure("fillrect 1920x1080 888", elapsedus(t), N);
    t = os_getus32();
    for (u32 i = 0; i < N; i++)
        window16.fillrect(0, 0, 750, 550, 0x203040 + i);
    figure("fillrect 750x550 565", elapsedus(t), N);
    t = os_getus32();
    for (u32 i = 0; i < N * 50; i++)
        screen.fillroundedrect(20 + (int)(i % 40), 20, 90, 30, 8, 0x22AA44);
    figure("fillroundedrect 90x30 r=8 888", elapsedus(t), N * 50);
    t = os_getus32();
    for (u32 i = 0; i < N * 50; i++)
        window16.drawline(0, (int)(i % 500), 749, 549 - (int)(i % 500), 0, 1.0f);
    figure("thin line across 750x550 565", elapsedus(t), N * 50);
    t = os_getus32();
    for (u32 i = 0; i < N * 10; i++)
        screen.drawline(0, (int)(i % 500), 1000, 549 - (int)(i % 500), 0, 3.0f);
    figure("line width 3, 1000 px 888", elapsedus(t), N * 10);
    t = os_getus32();
    for (u32 i = 0; i < N * 10; i++)
        screen.drawline(-2000000000, (int)i, 2000000000, 1000 - (int)i, 0, 1.0f);
    figure("thin line 4e9 px long, clipped", elapsedus(t), N * 10);
    t = os_getus32();
    for (u32 i = 0; i < N * 50; i++)
        screen.fillcircle(500, 500, 40.0f, 0x445566);
    figure("fillcircle r=40 888", elapsedus(t), N * 50);
    t = os_getus32();
    for (u32 i = 0; i < N * 50; i++)
        window16.copy(&icon, 100, 100, 0, 0, 0, 0);
    figure("copy 32x32 8888 -> 565 blend", elapsedus(t), N * 50);
    u32* back = (u32*)process->pool.getmem((u64)1920 * 1080 * 4);
    if (!back)
        return 1;
    t = os_getus32();
    for (u32 i = 0; i < N; i++)
        blit_888_888(back, screen.row32(0), 1920, 1920, 0, 0, 0, 0, 1920, 1080);
    figure("blit_888_888 1920x1080", elapsedus(t), N);
    t = os_getus32();
    for (u32 i = 0; i < N; i++)
        blit_888_888_scale2(back, screen.row32(0), 1920, 1920, 0, 0, 0, 0, 960, 540);
    figure("blit_888_888_scale2 960x540", elapsedus(t), N);
    t = os_getus32();
    for (u32 i = 0; i < N; i++)
        blit_888_8888_scale2(back, screen.row32(0), 1920, 1920, 0, 0, 0, 0, 960, 540);
    figure("blit_888_8888_scale2 960x540", elapsedus(t), N);
    process->pool.freemem(back);
    return 0;
}

// Each refusal once; the test reads their messages on standard error.
int diagnostics(char const* dir)
{
    static const u32 pairs[][2] = {{8, 8}, {332, 565}, {555, 8}, {565, 332}, {888, 565}, {1, 888}};
    for (auto& pr : pairs) {
        image dst, src;
        if (!dst.open(4, 4, pr[0]) || !src.open(4, 4, pr[1]))
            return 1;
        dst.copy(&src, 0, 0, 0, 0, 0, 0);
    }
    image bits, rgb, argb;
    if (!bits.open(8, 8, 1) || !rgb.open(8, 8, 565) || !argb.open(8, 8, 8888))
        return 1;
    bits.fillroundedrect(0, 0, 8, 8, 2, 0xFFFFFF);
    argb.fillroundedrect(0, 0, 8, 8, 2, 0xFFFFFF);     // draws nothing and says nothing
    static u8 foreign[32 + 4] = {'k', 'z', 'v', ' ', 0xCD, 0xEF, 54, 0, 1, 0, 1, 0};
    rgb.copyres(foreign, sizeof foreign, 0, 0);
    u16 row[16] = {};
    data rec;
    rec.clear();
    rec.type = type_scanline;
    scanline_setformat(rec, 565);
    scanline_setwidth(rec, 16);
    scanline_setheight(rec, 1);
    rec.payload = row;
    rec.size = sizeof row;
    rgb.drawscanline(&rec, 0, 0);           // wider than the image
    scanline_setwidth(rec, 4);
    rgb.drawscanline(&rec, 0, 0);           // 565 into 565 is no supported pair
    rgb.drawimage(0, 0, "picture.png");
    rgb.drawimage(0, 0, "no/such/picture.kzv");
    image rgb15;
    char path[1024];
    if (!rgb15.open(4, 4, 555) || !combinepath(path, sizeof path, dir, "refused.kzv"))
        return 1;
    return rgb15.savekzv(path) ? 1 : 0;
}

} // namespace

void memoryinit(unsigned&, unsigned&) {}

void mmain()
{
    char const* command = process->getargv(0);
    int status = 2;
    if (streq(command, "pack") && process->getargc() == 6)
        status = pack((u32)atoi(process->getargv(1)), (u32)atoi(process->getargv(2)),
                      (u32)atoi(process->getargv(3)), process->getargv(4), process->getargv(5));
    else if (streq(command, "scene") && process->getargc() == 3)
        status = scene((u32)atoi(process->getargv(1)), process->getargv(2));
    else if (streq(command, "bench") && process->getargc() == 1)
        status = bench();
    else if (streq(command, "diagnostics") && process->getargc() == 2)
        status = diagnostics(process->getargv(1));
    else
        eprintf("usage: imagetool pack FMT W H IN OUT | scene FMT OUT | bench | diagnostics DIR\n");
    process->exitcode = status;
}

} // namespace kzv
