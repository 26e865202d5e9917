// Text on an image: the four built-in fonts (6 x 13, 8 x 16, 5 x 6 capitals and a
// proportional 13-row font) and kzv fonts from the embedded resources, drawn with
// coverage or bits, per-glyph offsets and kerning. The drawing members are the
// image's (image.h); this header holds the text module's fixed numbers. A UTF-8
// text is converted into a local buffer of TEXT_BUFFERUNITS units, so a longer one
// is drawn and measured only up to TEXT_MAXUNITS units; nothing is allocated.
#pragma once
#include "image.h"

namespace kzv {

const u32 TEXT_MAXUNITS = 999;                  // the most of a UTF-8 text drawn or measured
const u32 TEXT_BUFFERUNITS = TEXT_MAXUNITS + 1; // with the terminator
const u32 TEXT_FONTNAMECAPACITY = 1024;         // "fnt/" name "#" styles "_" size, with the zero

// The built-in fonts: advance and line height in pixels.
const int TEXT_ADVANCE6X13 = 6;
const int TEXT_LINE6X13 = 13;
const int TEXT_ADVANCE8X16 = 8;
const int TEXT_LINE8X16 = 16;
const int TEXT_ADVANCE5X6 = 5;
const int TEXT_ROWS5X6 = 6;
const int TEXT_ROWSVAR13 = 13;

const int TEXT_TABSPACES = 4;                   // a tab advances four space advances

// The resource name of a kzv font into out (capacity bytes with the zero): "fnt/"
// name "#" in lower case, then "_bold", "_italic" and "_" size; false when it does
// not fit. The image and the widget container look fonts up by it.
bool text_fontresourcename(char* out, u32 capacity, char const* name, unsigned size, bool bold, bool italic);

} // namespace kzv
