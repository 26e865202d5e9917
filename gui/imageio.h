// Scanline exchange of an image (members in image.h): painting received scanline
// records into the image with format conversion (`drawscanline`, `putscanline`),
// drawing a kzv file or embedded resource (`drawimage`) and saving the image as
// kzv (`savekzv`). Rows wider than the image, rows shorter than their width and
// unsupported format pairs draw nothing and are reported on standard error. A save
// or a draw reports failure when the codec or the file did; a failed save removes
// the regular file it began. The codec and the file stream are local to each call.
#pragma once
#include "image.h"

namespace kzv {

const u32 IMAGEIO_HEADERREAD = 128;     // the first read of a decoder: its header record
// Answers in a row without progress after which a save or a draw is taken as
// stuck. Files and resources never block, so a healthy chain never comes close.
const u32 IMAGEIO_IDLELIMIT = 100;

} // namespace kzv
