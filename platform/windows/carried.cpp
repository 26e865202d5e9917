// What the Windows program carries beyond its dialogs: the PNG and BMP codecs,
// the decompressor and the compressor, reached only through the image load and
// save operations, which no dialog calls; the text buffer; and the half-precision
// and CORDIC arithmetic. The build names this table as a root
// of the linker's section collection, so everything it reaches stays in the
// program, and a check after the link finds their symbols there. A piece the
// program is to carry adds its entry points here.
#include "../../codecs/bmpmodule.h"
#include "../../codecs/compressor.h"
#include "../../codecs/decompressor.h"
#include "../../codecs/pngmodule.h"
#include "../../gui/image.h"
#include "fixedcordic.h"
#include "float16.h"
#include "textbuffer.h"

namespace {
using kzv::image;
bool loadpng(image& im, char const* path) { return im.loadpng(path); }
bool loadbmp(image& im, char const* path) { return im.loadbmp(path); }
bool savepng(image& im, char const* path) { return im.savepng(path); }
bool savebmp(image& im, char const* path) { return im.savebmp(path); }
bool loadtext(kzv::textbuffer& t, char const* path) { return t.loadfile(path); }
// Every operator of the half-precision numbers, in one function that the table keeps.
kzv::u16 float16operators(kzv::float16 a, kzv::float16 b)
{
    kzv::float16 r = a;
    r += b;
    r -= b;
    r *= b;
    r /= b;
    return (kzv::u16)(r.word ^ (a < b));
}
} // namespace

extern "C" void const* const kzv_carried[] = {
    (void const*)kzv::png_concb,
    (void const*)kzv::bmp_concb,
    (void const*)kzv::decompressor_concb,
    (void const*)kzv::compressor_concb,
    (void const*)loadpng,
    (void const*)loadbmp,
    (void const*)savepng,
    (void const*)savebmp,
    (void const*)kzv::textbuffer_concb,
    (void const*)loadtext,
    (void const*)float16operators,
    (void const*)kzv::float16_sin,
    (void const*)kzv::float16_cos,
    (void const*)kzv::fixed_sincos,
    (void const*)kzv::fixed_anglenorm,
    (void const*)kzv::fixed_exp,
    (void const*)kzv::fixed_atanh,
    (void const*)kzv::fixed_824tofloat,
    (void const*)kzv::fixed_floatto824,
};
