// Hand-made raw deflate streams. Each row: name, the stream in hex, the expected
// outcome ("ok", "truncated" or the error message) and the decoded text. The
// end-to-end test feeds the same rows to zlib: both must accept or refuse alike,
// except "distance lengths all zero", which this decoder refuses on purpose.
#pragma once

struct inflatecase {
    char const* name;
    char const* hex;
    char const* expect;
    char const* text;
};

static const inflatecase inflatecases[] = {
    {"empty fixed block", "03 00", "ok", ""},
    {"empty stored block", "01 00 00 ff ff", "ok", ""},
    {"stored abc", "01 03 00 fc ff 61 62 63", "ok", "abc"},
    {"stored length not inverted", "01 01 00 ff ff", "stored len", ""},
    {"block type 3", "07", "type", ""},
    {"fixed block cut short", "03", "truncated", ""},
    {"stored block cut short", "01 03 00 fc ff 61", "truncated", ""},
    {"no final block", "00 00 00 ff ff", "truncated", ""},
    {"fixed match repeats a byte", "4b 04 02 00", "ok", "aaaa"},
    {"distance before the output", "03 02 00", "distance", ""},
    {"distance code 30", "4b 04 3e 00", "decode op", ""},
    {"distance code 31", "4b 04 7e 00", "decode op", ""},
    {"length code 286", "4b 1c 03", "decode op", ""},
    {"stored odd length then fixed block", "00 03 00 fc ff 61 62 63 4b 01 61 00", "ok", "abcdabcd"},
    {"single distance code of length 1", "0d e0 49 92 24 49 92 04 41 bc 15 ff ff 09 22 b4 00", "ok", "aaaa"},
    {"distance lengths all zero", "05 e0 49 92 24 49 92 04 41 bc 15 ff ff 09 04 01", "table !max", ""},
    {"oversubscribed lengths", "05 e0 49 92 24 49 92 04 41 bc 15 f1 ff 8f 40 04", "table left", ""},
    {"incomplete lengths", "05 e0 49 92 24 49 92 04 41 bc 15 ff ff 09 c2 00", "table type", ""},
    {"repeat with nothing before", "05 e0 49 92 24 49 92 04 41 2c 01", "gt2", ""},
    {"repeat past the lengths", "05 e0 49 92 24 49 92 04 41 fc ff ff 01", "gt2a", ""},
    {"incomplete code-length code", "05 00 00 04", "table type", ""},
    {"bytes after the final block", "03 00 de ad be ef", "ok", ""},
};
