// The chooser's name lists: names of every length up to 255 kept whole and a
// 256-byte one refused, names packed across many chunks (a name that would cross
// a chunk's end starts the next one), the table's growth steps, a cleared list
// reusing its table and chunks, and a release giving every block back.
#include "test_guiwidgets.h"
#include "../../gui/guifilelist.h"

using namespace kzv;
using namespace kzvtest;

namespace {

// Name i: its length cycles through 1..255, its bytes spell i, so every name
// differs and a name cut or overwritten shows.
u32 namelength(u32 i) { return 1 + i % 255; }

char* makename(char* out, u32 i)
{
    u32 n = namelength(i);
    for (u32 k = 0; k < n; k++)
        out[k] = (char)('a' + (i >> (k % 4 * 5)) % 26);
    out[n] = 0;
    return out;
}

bool holdsnames(namelist const& list, u32 count)
{
    char name[NAMELIST_NAMECAPACITY];
    if (list.count != count)
        return false;
    for (u32 i = 0; i < count; i++)
        if (!streq(list.get(i), makename(name, i)))
            return false;
    return true;
}

} // namespace

TEST(namelist_lengths_and_refusal)
{
    namelist list;
    list.init(&process->pool);
    char name[NAMELIST_NAMECAPACITY + 1];
    struct { char const* row; u32 length; bool taken; } const rows[] = {
        {"empty", 0, true}, {"one byte", 1, true}, {"254 bytes", 254, true},
        {"255 bytes", 255, true}, {"256 bytes", 256, false},
    };
    u32 taken = 0;
    for (auto const& r : rows) {
        setrow(r.row);
        memset(name, 'n', r.length);
        name[r.length] = 0;
        CHECK_EQ(list.append(name), r.taken);
        taken += r.taken ? 1 : 0;
        CHECK_EQ(list.count, taken);
        if (r.taken)
            CHECK_STR(list.get(list.count - 1), name);
    }
    CHECK_STR(list.get(taken), "");         // past the end
    list.release();
    CHECK(list.names == nullptr && list.chunks == nullptr && list.count == 0);
}

TEST(namelist_packs_names_across_chunks)
{
    namelist list;
    list.init(&process->pool);
    const u32 COUNT = 3000;     // about 380 KB of names: many chunks, table past 1024
    char name[NAMELIST_NAMECAPACITY];
    u32 growths = 0, last = 0;
    bool steps = true;
    for (u32 i = 0; i < COUNT; i++) {
        CHECK(list.append(makename(name, i)));
        if (list.capacity != last) {
            steps = steps && list.capacity == last + namelist::growthstep(last);
            last = list.capacity;
            growths++;
        }
    }
    CHECK(steps);
    CHECK_EQ(list.capacity, 3072);          // 4 x 64, 3 x 256, 2 x 1024
    CHECK_EQ(growths, 9);
    CHECK(holdsnames(list, COUNT));
    u32 chunks = 0;
    bool inside = true;
    for (namechunk* c = list.chunks; c; c = c->next)
        chunks++;
    for (u32 i = 0; i < COUNT; i++) {
        // Every name lies whole inside one chunk.
        char const* p = list.get(i);
        bool found = false;
        for (namechunk* c = list.chunks; c && !found; c = c->next)
            found = p > (char const*)c && p + strlen(p) < (char const*)c + NAMELIST_CHUNKBYTES;
        inside = inside && found;
    }
    CHECK(inside);
    CHECK(chunks > 20 && chunks < 30);      // packed: 380 KB in 16 KiB chunks
    list.release();
}

TEST(namelist_clear_reuses_and_release_frees)
{
    u32 before = poolblocks();
    namelist list;
    list.init(&process->pool);
    char name[NAMELIST_NAMECAPACITY];
    for (u32 i = 0; i < 800; i++)
        list.append(makename(name, i));
    u32 full = poolblocks();
    CHECK(full > before);
    for (u32 round = 0; round < 3; round++) {
        setrow(round == 0 ? "fewer names" : round == 1 ? "as many" : "fewer again");
        list.clear();
        CHECK_EQ(list.count, 0);
        u32 n = round == 1 ? 800 : 300;
        for (u32 i = 0; i < n; i++)
            list.append(makename(name, i));
        CHECK(holdsnames(list, n));
        CHECK_EQ(poolblocks(), full);
    }
    list.release();
    CHECK_EQ(poolblocks(), before);
    // A released list starts over.
    CHECK(list.append("again"));
    CHECK_STR(list.get(0), "again");
    list.release();
    CHECK_EQ(poolblocks(), before);
}
