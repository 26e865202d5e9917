// What the two halves of codectool share: whole-file loading and saving through
// the platform functions, and the one-line failure report.
#pragma once
#include "../../../framework/types.h"

namespace kzv {

struct deflatesink;

int codectool_fail(char const* what, char const* path);        // the line on standard error; returns 1
u8* codectool_load(char const* path, u32& length);               // the whole file from the pool, or null
bool codectool_save(char const* path, deflatesink const& bytes);  // a partial file is removed
// Decodes a PNG file in memory reps times; prints the pixel bytes of one run and
// the microseconds of all of them.
int codectool_benchpng(u8 const* file, u32 length, u32 reps);
// png2kzv, bmp2kzv, kzv2png, kzv2bmp; -1 for another command.
int codectool_image(char const* command, char const* inpath, char const* outpath);

} // namespace kzv
