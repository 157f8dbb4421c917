// The report's unit modes and columns, one table each: the header and
// every rate line are made from them.  A column more is a row more here,
// a field of ifdata, and the line of sampling that fills it.
#ifndef ZORVAT_CORE_COLUMNS_H
#define ZORVAT_CORE_COLUMNS_H

#include <array>

#include "core/zorvat.h"

// A unit mode: byte counts are multiplied by mul, then divided by div (all
// powers of two, so the scaling is exact), under these labels.
struct unitmode {
    double mul;
    double div;
    const char *in;     // label of the received bytes
    const char *out;    // of the sent bytes
    const char *total;  // of both together
};

// Indexed by Oflag; entry 0 stands for every value that is no mode.
constexpr std::array<unitmode, 7> unitmodes = {{
    {1, 1, "IBytes/s", "OBytes/s", "Bytes/s"},
    {1, 1048576, "IMB/s", "OMB/s", "MB/s"},        // OFLAG_MBYTES
    {1, 1024, "IKB/s", "OKB/s", "KB/s"},           // OFLAG_KBYTES
    {1, 1, "IBytes/s", "OBytes/s", "Bytes/s"},     // OFLAG_BYTES
    {8, 1048576, "IMbit/s", "OMbit/s", "Mbit/s"},  // OFLAG_MBITS
    {8, 1024, "IKbit/s", "OKbit/s", "Kbit/s"},     // OFLAG_KBITS
    {8, 1, "IBit/s", "OBit/s", "Bits/s"},          // OFLAG_BITS
}};

// The unit mode of an Oflag: any value outside 1 to 6 counts plain bytes.
constexpr const unitmode &unitof(int oflag) {
    return unitmodes[oflag >= OFLAG_MBYTES && oflag <= OFLAG_BITS ? static_cast<size_t>(oflag) : 0];
}

// How a column shows the change of its counters.
enum : unsigned {
    BYTES = 1,      // in the unit mode's unit
    MARKED = 2,     // -1.0 when its counter is missing in the newest sample
    PERSECOND = 4,  // a rate, with one decimal; else a count in the interval
};

// A column after the name: its label (a byte column's comes from the unit
// mode), the blanks before it and the width its figures take at least, and
// the counter it shows, with a second one added to it for a total.
struct column {
    const char *label;
    const char *unitmode::*unitlabel;
    int gap;
    int width;
    counter shows;
    counter plus;
    unsigned how;
};

constexpr column columns[] = {
    {nullptr, &unitmode::in, 1, 14, RBYTES, NOCOUNTER, BYTES | MARKED | PERSECOND},
    {nullptr, &unitmode::out, 1, 14, OBYTES, NOCOUNTER, BYTES | MARKED | PERSECOND},
    {"Ipack/s", nullptr, 1, 8, IPACKETS, NOCOUNTER, MARKED | PERSECOND},
    {"Opack/s", nullptr, 1, 8, OPACKETS, NOCOUNTER, MARKED | PERSECOND},
    {"Ierr/s", nullptr, 2, 6, IERRORS, NOCOUNTER, PERSECOND},
    {"Oerr/s", nullptr, 1, 6, OERRORS, NOCOUNTER, PERSECOND},
    {"Col/s", nullptr, 1, 6, COLLISIONS, NOCOUNTER, PERSECOND},
    {nullptr, &unitmode::total, 1, 14, RBYTES, OBYTES, BYTES | PERSECOND},
    {"Pack/s", nullptr, 1, 8, IPACKETS, OPACKETS, PERSECOND},
    {"Nocanput", nullptr, 2, 8, NOCANPUT, NOCOUNTER, 0},
};

// The name's field: in a line at least NAMEWIDTH wide, the name never cut;
// in the header HEADNAMEWIDTH, so that the labels stand over the figures of
// a name of that length.
constexpr int NAMEWIDTH = 8;
constexpr int HEADNAMEWIDTH = 10;

#endif
