#include "model/attribute_table.h"

namespace torvik {

// Columns: id, text. The trailing number is the row's place in the table (1-based).
constexpr AttributeDescription kAttributeDescriptions[] = {
    // First block.
    {0x0100, "Flash UNC Error Count"},                  // 1
    {0x0103, "Flash UNC Error Count from Host"},        // 2
    {0x0104, "Data E3D Error during Host Read"},        // 3
    {0x0107, "PHY Error Count"},                        // 4
    {0x0204, "NAND Erase Sector"},                      // 5
    {0x0205, "Total Erase Count"},                      // 6
    {0x0209, "D2/D3 Max Erase Count"},                  // 7
    {0x020B, "D2/D3 Average Erase Count"},              // 8
    {0x020C, "D2/D3 Min Erase Count"},                  // 9
    {0x020E, "SSD Life Used Percent D3"},               // 10
    {0x020F, "SSD Life Remaining Percent D3"},          // 11
    {0x0300, "Total Bad Block Count"},                  // 12
    {0x0301, "Total Early Bad Blcok Count"},            // 13
    {0x0302, "Total Later Bad Blcok Count"},            // 14
    {0x0410, "NAND Write"},                             // 15
    {0x0430, "NAND Read"},                              // 16
    {0x0500, "Read Fail Count"},                        // 17
    {0x0501, "Program Fail Count"},                     // 18
    {0x0502, "Erase Failure Count"},                    // 19
    {0x0700, "Device Capacity"},                        // 20
    {0x0701, "User Capacity"},                          // 21
    {0x0704, "FW Code Update Count"},                   // 22
    {0x0706, "System Table Copy Count"},                // 23
    {0x0707, "ReadMoveTableCnt"},                       // 24
    {0x0709, "WP Water Mark"},                          // 25
    {0x070B, "Wear Leveling Count"},                    // 26
    {0x0713, "Background read count"},                  // 27
    {0x0723, "Good code block count"},                  // 28
    {0x0802, "Highest temperature"},                    // 29
    {0x0803, "Chip internal temperature"},              // 30
    {0x0810, "Thermal throttling"},                     // 31
    {0x0811, "Thermal throttling time"},                // 32
    {0x0904, "Host Write Uncorrectable Sector Count"},  // 33
    {0x0912, "PS3 Enter Success"},                      // 34
    {0x0915, "PS4 Enter Success"},                      // 35
    {0xF012, "RAID ECC retry count"},                   // 36
    {0xF013, "RAID ECC failed count"},                  // 37
    {0xF014, "Data read retry count"},                  // 38

    // Second block; the rows whose id already occurs above are never returned by the lookup.
    {0x0001, "Return All Zero Data"},                                                    // 39
    {0x0002, "Return All 0x64 Data"},                                                    // 40
    {0x0100, "Number of ECC Error"},                                                     // 41
    {0x0101, "Number of ECC Error"},                                                     // 42
    {0x0102, "Flash UNC Error Count"},                                                   // 43
    {0x0103, "SATA PHY error count"},                                                    // 44
    {0x0104, "CRC Error Count"},                                                         // 45
    {0x0105, "SATA PHY error count_v2"},                                                 // 46
    {0x0106, "SATA E3D error cnt"},                                                      // 47
    {0x0107, "Read CRC Error Count"},                                                    // 48
    {0x0108, "Write CRC Error Count"},                                                   // 49
    {0x0109, "SATA PHY error count"},                                                    // 50
    {0x010A, "CRC Error Count"},                                                         // 51
    {0x010B, "Read CRC Error Count"},                                                    // 52
    {0x010C, "Write CRC Error Count"},                                                   // 53
    {0x010D, "Flash UNC Error Count/Raw Read Error Rate"},                               // 54
    {0x0200, "Total Erase Count D3"},                                                    // 55
    {0x0201, "Max Erase Count"},                                                         // 56
    {0x0202, "Avg Erase Count D3"},                                                      // 57
    {0x0203, "Avg Erase Cnt/Max Erase Cnt"},                                             // 58
    {0x0204, "Max Erase Cnt/Avg Erase Cnt"},                                             // 59
    {0x0205, "min Erase Cnt/Max Erase Cnt/Avg Erase Cnt"},                               // 60
    {0x0206, "Avg Erase Count(Worst)"},                                                  // 61
    {0x0207, "Erasecount MAX raw value/Erasecount Ave./Alternative block rest number"},  // 62
    {0x0208, "SSD life left"},                                                           // 63
    {0x0209, "Current Percent Life Used D3"},                                            // 64
    {0x020A, "SSD life left"},                                                           // 65
    {0x020B, "Minimum Erase Cnt"},                                                       // 66
    {0x020C, "Total erase block count (D3)"},                                            // 67
    {0x020D, "Current Percent Life Used (Consume, Include previous erase count)"},       // 68
    {0x020E, "SSD life lift  (Remaining, Include previous erase count)"},                // 69
    {0x020F, "Erase Count"},                                                             // 70
    {0x0210, "SSD life left D3 (Consume)/Max Bad Block Percent"},                        // 71
    {0x0211, "SSD life left D3 (Remaining)/Max Bad Block Percent"},                      // 72
    {0x0212, "Max Erase Count/Avg Erase Count/Min EraseCount"},                          // 73
    {0x0213, "Wear Range Delta D3 (Min Erase)(Remainig)"},                               // 74
    {0x0214, "Wear Range Delta D3 (Min Erase)(Remainig)/TT level"},                      // 75
    {0x0220, "Total Erase Count D1"},                                                    // 76
    {0x0221, "Max Erase Count D1"},                                                      // 77
    {0x0222, "Avg Erase Count D1"},                                                      // 78
    {0x0223, "Avg Erase Cnt D1/Max Erase Cnt D1"},                                       // 79
    {0x0224, "Max Erase Count D1/Avg Erase Cnt D1"},                                     // 80
    {0x0225, "min Erase Cnt D1/Max Erase Count D1/Avg Erase Cnt D1"},                    // 81
    {0x0228, "Wear Range Delta D1 (AVG Erase)(Remainig)"},                               // 82
    {0x0229, "Current Percent Life Used D1 (Consume)"},                                  // 83
    {0x0230, "SSD life left D1 (Consume)"},                                              // 84
    {0x0231, "SSD life left D1 (Remaining)/Max Bad Block Percent"},                      // 85
    {0x0232, "Max Erase Cnt D1/Avg Erase Count D1/Min Erase Cnt D1"},                    // 86
    {0x0233, "Wear Range Delta D1 (Min Erase)(Remainig)"},                               // 87
    {0x0234, "Wear Range Delta D1 (Min Erase)(Remainig)/TT level"},                      // 88
    {0x0300, "Total Bad (early+later) Block Count"},                                     // 89
    {0x0301, "Total Early Bad Block Count"},                                             // 90
    {0x0302, "Total Later Bad Block Count"},                                             // 91
    {0x0305, "Spare Block Count (drive)"},                                               // 92
    {0x0307, "later bad block (Worst, CE)"},                                             // 93
    {0x0308, "later bad block (Worst, plane)"},                                          // 94
    {0x0309, "early bad block (Worst, CE)"},                                             // 95
    {0x030A, "early bad block (Worst, Plane)"},                                          // 96
    {0x030B, "Total Early Bad Block Count/Total Later Bad Block Count"},                 // 97
    {0x030C, "Current Percent Spares D3 (Consume)"},                                     // 98
    {0x030D, "Current Percent Spares D3 (Remaining)"},                                   // 99
    {0x030E, "Bad Block Rate D3 (Consume)"},                                             // 100
    {0x030F, "Bad Block Rate D3 (Remaining)"},                                           // 101
    {0x0310, "Spare Blocks Available by drive"},                                         // 102
    {0x0311, "Remaining Spare Blocks by drive"},                                         // 103
    {0x0400, "Host Write (Sectors)"},                                                    // 104
    {0x0401, "Host Write (MB)"},                                                         // 105
    {0x0402, "Host Write (GB)"},                                                         // 106
    {0x0403, "Host Write (65536 Sectors)"},                                              // 107
    {0x0404, "Host Write (16GB)"},                                                       // 108
    {0x0410, "NAND Write (Sectors)"},                                                    // 109
    {0x0411, "NAND Write (MB)"},                                                         // 110
    {0x0412, "NAND Write (GB)"},                                                         // 111
    {0x0413, "NAND Write (65536 Sectors)"},                                              // 112
    {0x0414, "NAND Write (16GB)"},                                                       // 113
    {0x0420, "Host Read (Sectors)"},                                                     // 114
    {0x0421, "Host Read (MB)"},                                                          // 115
    {0x0422, "Host Read (GB)"},                                                          // 116
    {0x0423, "Host Read (65536 Sectors)"},                                               // 117
    {0x0424, "Host Read (16GB)"},                                                        // 118
    {0x0430, "NAND Read (Sectors)"},                                                     // 119
    {0x0431, "NAND Read (MB)"},                                                          // 120
    {0x0432, "NAND Read (GB)"},                                                          // 121
    {0x0433, "NAND Read (65536 Sectors)"},                                               // 122
    {0x0434, "NAND Read (16GB)"},                                                        // 123
    {0x0500, "Read Fail Count"},                                                         // 124
    {0x0501, "Program Fail Count"},                                                      // 125
    {0x0502, "Erase Failure Count"},                                                     // 126
    {0x0503, "Read Fail Count (by planebank)"},                                          // 127
    {0x0504, "Program Fail Count (by planebank)"},                                       // 128
    {0x0505, "Erase Failure Count (by planebank)"},                                      // 129
    {0x0506, "Raid ECC recovered count"},                                                // 130
    {0x0600, "Power on hours"},                                                          // 131
    {0x0607, "Power on/off cycles"},                                                     // 132
    {0x0608, "Unexpected Power Loss Count"},                                             // 133
    {0x0609, "Power CAP error/Guaranteed Flush En/Unexpected Power Loss Count"},         // 134
    {0x0700, "Device Capacity"},                                                         // 135
    {0x0701, "User Capacity"},                                                           // 136
    {0x0702, "Protect Mode"},                                                            // 137
    {0x0703, "Protect Mode"},                                                            // 138
    {0x0704, "FW Code Update Count"},                                                    // 139
    {0x0705, "FW Code Copy Count"},                                                      // 140
    {0x0706, "System Table Copy Count"},                                                 // 141
    {0x0707, "ReadMoveTableCnt"},                                                        // 142
    {0x0708, "Command Timeout Count"},                                                   // 143
    {0x0709, "Guanrantee flush"},                                                        // 144
    {0x070A, "Protect Mode"},                                                            // 145
    {0x070B, "SMART selftest UNC count"},                                                // 146
    {0x070C, "Protect Mode"},                                                            // 147
    {0x070D, "non 4K aligned write cmd count"},                                          // 148
    {0x0800, "Current Temp/Min Temp/Max Temp"},                                          // 149
    {0x0801, "Current Temp"},                                                            // 150
    {0x0802, "Chip internal temperature"},                                               // 151
    {0x0803, "Current Temp/Max Temp/Min Temp"},                                          // 152
    {0x0810, "Thermal throttling"},                                                      // 153
    {0x0811, "Thermal throttling time"},                                                 // 154
    {0xF000, "total valid count"},                                                       // 155
    {0xF001, "total valid LCA count"},                                                   // 156
    {0xF010, "HB retry count"},                                                          // 157
    {0xF011, "SB retry count"},                                                          // 158
    {0xF012, "RS retry count"},                                                          // 159
};

constexpr std::size_t kAttributeDescriptionCount =
    sizeof kAttributeDescriptions / sizeof kAttributeDescriptions[0];

static_assert(kAttributeDescriptionCount == 159);

const char* find_attribute_description(std::uint16_t id) {
    for (const AttributeDescription& row : kAttributeDescriptions) {
        if (row.id == id)
            return row.text;
    }
    return nullptr;
}

}  // namespace torvik
