// Constants of the deflate format shared by the encoder and the decoder: the base
// values and extra-bit counts of the 29 length codes (symbols 257 to 285) and the
// 30 distance codes, the order in which code-length code lengths are sent, and
// the bit reversal that turns a Huffman code into the order it is sent in.
#pragma once
#include "../framework/types.h"

namespace kzv {

inline constexpr u16 deflate_lengthbase[29] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31,
                                               35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
inline constexpr u8 deflate_lengthextra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                               3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
inline constexpr u16 deflate_distancebase[30] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129,
                                                 193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097,
                                                 6145, 8193, 12289, 16385, 24577};
inline constexpr u8 deflate_distanceextra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7,
                                                 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
inline constexpr u8 deflate_codelengthorder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr u32 deflate_reversebits(u32 code, u32 length)
{
    u32 r = 0;
    for (u32 i = 0; i < length; i++, code >>= 1)
        r = r << 1 | (code & 1);
    return r;
}

} // namespace kzv
