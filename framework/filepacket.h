// The "file" packet (type 7): what os_fileinfo fills and the file information
// module hands out. Kind words: bytes 0-2 the permission digits (owner, group,
// others; 4 read, 2 write, 1 execute), byte 3 the kind, byte 4 the flags, bytes 5
// and 6 a device's major and minor number, word 2 the modification time (local
// seconds since 1970), quad 2 the size. Payload: the path, and behind its zero a
// link's target.
#pragma once
#include "data.h"

namespace kzv {

enum : u8 {
    filekind_directory = '7', filekind_file = '8', filekind_block = '9', filekind_char = ':',
    filekind_pipe = ';', filekind_socket = '<', filekind_other = '=',
};
enum : u8 { fileflag_link = 1, fileflag_sizeunknown = 2 };

inline u8 file_permission(data const& d, int who) { return d.kind.b[who]; }   // 0 owner, 1 group, 2 others
inline u8 file_kind(data const& d) { return d.kind.b[3]; }
inline u8 file_flags(data const& d) { return d.kind.b[4]; }
inline u32 file_mtime(data const& d) { return d.kind.w[2]; }
inline u64 file_size(data const& d) { return d.kind.q[2]; }

inline void file_setpermissions(data& d, u32 mode)
{
    d.kind.b[0] = (u8)((mode >> 6) & 7);
    d.kind.b[1] = (u8)((mode >> 3) & 7);
    d.kind.b[2] = (u8)(mode & 7);
}
inline void file_setkind(data& d, u8 kind) { d.kind.b[3] = kind; }
inline void file_setflags(data& d, u8 flags) { d.kind.b[4] = flags; }
inline void file_setmtime(data& d, u32 seconds) { d.kind.w[2] = seconds; }
inline void file_setsize(data& d, u64 size) { d.kind.q[2] = size; }

} // namespace kzv
