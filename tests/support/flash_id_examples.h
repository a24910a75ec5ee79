// Flash IDs with the descriptions the decoder must give them, written out independently of the
// decoder's tables. The decoder's tests and the JSON report's tests both go through them.
#pragma once

namespace torvik::testing {

struct FlashIdExample {
    const char* id;  // hex bytes, "98 3C 98 B3 76 F2 00 00"
    int result;      // of decode_flash_id
    const char* text;
};

inline constexpr FlashIdExample kFlashIdExamples[] = {
    {"00 A0 00 00 00 00 00 00", 0, ""},
    {"37 00 00 00 00 00 00 00", 0, ""},
    {"EF AA 20 00 00 00 00 00", 1, "Winbond SLC"},
    {"98 3C 98 B3 76 F2 00 00", 1, "Toshiba 64L BiCS3 TLC 16k 256Gb/CE 256Gb/die 2Plane/die"},
    {"98 DE 91 93 2A 50 00 00", 1, "Toshiba A19nm SLC 16k 64Gb/CE 32Gb/die 2Plane/die"},
    {"45 3C 98 26 F6 A5 00 00", 1, "Sandisk 162L BiCS6 TLC 8k 256Gb/CE 256Gb/die 2Plane/die"},
    {"2C C4 18 32 A2 00 00 00", 1, "Micron 96L(B27A) TLC 512Gb/CE 512Gb/die"},
    {"2C B4 A6 00 00 00 00 00", 1, "Micron MLC 384Gb/CE 96Gb/die"},
    {"2C 09 1E 00 00 00 00 00", 1, "Micron QLC 5.33Tb/CE 1.33Tb/die"},
    {"89 D3 AC 32 C6 00 00 00", 1, "Intel 144L(N38A) QLC 1024Gb/CE 1024Gb/die"},
    {"89 09 28 32 C2 00 00 00", 1, "Intel 192L(Q5171A) QLC 1.33Tb/CE 1.33Tb/die"},
    {"89 09 29 32 C2 00 00 00", 1, "Intel 192L(Q5171A) QLC 2.67Tb/CE 1.33Tb/die"},
    {"AD 5E 28 22 10 90 00 00", 1, "Hynix 3dv4-72L TLC 8k 512Gb/CE 512Gb/die"},
    {"AD 5E 29 22 10 90 00 00", 1, "Hynix 3dv4-72L TLC 8k 1024Gb/CE 512Gb/die"},
    {"AD DE 94 3A 00 60 00 00", 1, "Hynix 3dv1 MLC 8k 64Gb/CE 64Gb/die"},
    {"EC D7 98 42 76 44 00 00", 1, "Samsung 21nm TLC 8k 32Gb/CE 32Gb/die"},
    {"9B C3 48 25 10 00 00 00", 1, "YMTC 3dv2-64L(x1-9050) TLC 16k 256Gb/CE 256Gb/die 2Plane/die"},
    {"9B D5 58 8D 20 00 00 00", 1, "YMTC 3dv3-128L(x2-6070) QLC 16k 1.33Tb/CE 1.33Tb/die"},
    {"9B C6 59 71 30 00 00 00", 1, "YMTC 3dv4-232L(x3-9070) TLC 16k 2048Gb/CE 1024Gb/die"},
    {"9B C5 5C 55 30 C0 00 00", 1,
     "YMTC 3dv4-232L(x3-6070) QLC 16k 1024Gb/CE 1024Gb/die 4Plane/die"},
    {"9B C4 28 49 20 00 00 00", 1, "YMTC 3dv3-128L(x2-9060) TLC 16k 512Gb/CE 512Gb/die 4Plane/die"},
    {"9B C4 28 49 30 00 00 00", 1, "YMTC 3dv4-128L(x3-9060) TLC 16k 512Gb/CE 512Gb/die 4Plane/die"},
    {"9B C5 29 55 30 00 00 00", 1, "YMTC 3dv4 TLC 16k 1024Gb/CE 512Gb/die 4Plane/die"},
    // Terabit values below one and above ten; fewer planes than dies gives no plane piece.
    {"98 73 01 00 00 00 00 00", 1, "Toshiba A19nm SLC 2k 1.33Tb/CE 0.67Tb/die"},
    {"45 7A 03 00 0C 00 00 00", 1, "Sandisk A19nm SLC 2k 1.33Tb/CE 0.17Tb/die 1Plane/die"},
    {"89 09 2B 00 00 00 00 00", 1, "Intel QLC 10.66Tb/CE 1.33Tb/die"},
    {"B5 05 02 00 00 00 00 00", 1, "Spectek SLC 4096Gb/CE 1024Gb/die"},
    {"98 FF 00 00 00 00 00 00", 1, "Toshiba A19nm SLC 2k 4096Gb/CE 4096Gb/die 1Plane/die"},
};

struct FlashPartExample {
    const char* id;
    const char* part;  // nullptr: no row matches
};

inline constexpr FlashPartExample kFlashPartExamples[] = {
    {"2C 88 24 4B A9 84", " 20nm(L84A)"},    {"2C 88 24 4B A9 00", " 25nm(L74A)"},
    {"2C 88 24 4B A9 01", nullptr},          {"2C C3 08 32 E6 00", " 96L(B27B)"},
    {"2C C3 08 32 E6 30", " 232L(B57T)"},    {"2C C3 08 32 E6 31", nullptr},
    {"2C C3 08 32 EA 00", " 176L(B47R)"},    {"2C C3 08 32 EA 31", " 176L(B47R)"},
    {"2C C3 08 32 EA FF", " 176L(B47R)"},    {"B5 D3 1C 32 C6 00", " 96L(N28A)"},
    {"89 D3 1C 32 C6 00", " 96L(N28A)"},     {"2C D3 AC 32 C6 00", nullptr},
    {"89 D3 AC 32 C6 00", " 144L(N38A)"},    {"9B C4 28 49 20 00", "(x2-9060)"},
    {"9B C4 28 49 30 00", "-128L(x3-9060)"}, {"9B C5 29 55 30 00", nullptr},
};

}  // namespace torvik::testing
