// PNG and BMP files into images and images into PNG and BMP files (members in
// image.h). Both codecs are transform modules, so one loader and one saver serve
// both: a load reads the codec's header record, opens and clears the image at its
// size and format and puts every row record at its line; a save is the generic
// save of imageio.h with this module's messages. Files and images never block, so
// neither sleeps: answers without progress are counted and a few in a row end the
// call as failed. The codec and the file stream are local to each call. The bmp
// codec speaks only with its trace flag, so both calls set it.
#include "image.h"
#include "imageio.h"
#include "scanline.h"
#include "../codecs/bmpmodule.h"
#include "../codecs/pngmodule.h"
#include "../framework/filestream.h"
#include "../framework/printf.h"

namespace kzv {

namespace {

// The header record, the image opened at its size, then the rows.
bool loadrows(image& im, transform& codec, char const* path)
{
    data* record = nullptr;
    if (!imageio_header(codec, record)) {
        if (!codec.hasflag(tstate_error))
            eprintf("%s: no image in %s\n", codec.name, path);
        return false;
    }
    u32 width = scanline_width(*record), height = scanline_height(*record);
    if (!im.open(width, height, scanline_format(*record))) {
        eprintf("%s: no room for an image of %u x %u in %s\n", codec.name, width, height, path);
        return false;
    }
    im.clear(0);                    // rows a broken file never gives stay black
    while (imageio_nextrecord(codec, 0, record) > 0)
        if (record->type == type_scanline && scanline_line(*record) >= 0)
            im.putscanline(record);
    return !codec.hasflag(tstate_error) && codec.hasflag(tstate_end);
}

bool loadwith(image& im, transform& codec, char const* path)
{
    if (!path)
        path = "";
    file source;
    source.init(im.pool);
    if (!source.open(path)) {
        eprintf("%s: not found: %s\n", codec.name, path);
        return false;
    }
    codec.setflag(tstate_trace);
    connect(source.out, codec.in);
    bool loaded = loadrows(im, codec, path);
    if (source.hasstate(streamstate_error)) {
        eprintf("%s: cannot read %s\n", codec.name, path);
        loaded = false;
    }
    connect(source.out, nullptr);
    connect(codec.in, nullptr);
    return loaded;
}

bool savewith(image& im, transform& codec, char const* path)
{
    codec.setflag(tstate_trace);
    imagesaveresult result = imageio_save(im, codec, path);
    if (result == imagesave_nofile || (result == imagesave_unwritten && !codec.hasflag(tstate_error)))
        eprintf("%s: cannot write %s\n", codec.name, path);
    return result == imagesave_saved;
}

} // namespace

bool image::loadpng(char const* path)
{
    png codec(pool);
    return loadwith(*this, codec, path);
}

bool image::loadbmp(char const* path)
{
    bmp codec(pool);
    return loadwith(*this, codec, path);
}

bool image::savepng(char const* path)
{
    png codec(pool);
    return savewith(*this, codec, path);
}

bool image::savebmp(char const* path)
{
    bmp codec(pool);
    return savewith(*this, codec, path);
}

} // namespace kzv
