// Scanline exchange of an image (members in image.h): painting received scanline
// records into the image with format conversion (`drawscanline`, `putscanline`),
// drawing a kzv file or embedded resource (`drawimage`) and saving the image as
// kzv (`savekzv`). Rows wider than the image, rows shorter than their width and
// unsupported format pairs draw nothing and are reported on standard error. A save
// or a draw reports failure when the codec or the file did; a failed save removes
// the regular file it began. The codec and the file stream are local to each call.
// The record pull and the save below serve every transform codec (kzv, PNG, BMP);
// they print nothing, so each caller words its own messages.
#pragma once
#include "image.h"

namespace kzv {

class transform;

const u32 IMAGEIO_HEADERREAD = 128;     // the first read of a decoder: its header record
// Answers in a row without progress after which a save or a draw is taken as
// stuck. Files and resources never block, so a healthy chain never comes close.
const u32 IMAGEIO_IDLELIMIT = 100;

// The codec's next record, asked at most IMAGEIO_IDLELIMIT times; 0 when it has
// none, now or ever.
sptr imageio_nextrecord(transform& codec, u32 max, data*& record);
// The codec's first record when it is a header (a scanline record of line -1).
bool imageio_header(transform& codec, data*& record);

enum imagesaveresult : u8 {
    imagesave_saved,
    imagesave_noimage,      // no path, or an image without rows (nothing to encode)
    imagesave_nofile,       // the file could not be made
    imagesave_unwritten,    // the chain stalled or the file stream failed
    imagesave_refused,      // the codec failed or stopped before the end
};

// Every row of `im` through `codec` into a new file at `path`: the file pulls
// the codec's bytes while the codec pulls the image's rows. The image's OUT pin
// is borrowed and given back, its row reader left at the start. Anything but
// imagesave_saved after the file was made removes it (a regular file that is no
// link only).
imagesaveresult imageio_save(image& im, transform& codec, char const* path);
// The same into a file that must not exist yet, for folders others may write to:
// made new for this user only, never through a link (os_fcreatenew). A name that
// is taken answers imagesave_nofile with `taken` set, and nothing there is touched.
imagesaveresult imageio_savenew(image& im, transform& codec, char const* path, bool& taken);

} // namespace kzv
