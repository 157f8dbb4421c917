// What a report is made of, one table each: the unit modes, the counters
// of a sample, and the columns of a line.  The header and every rate line
// are made from these tables; a unit mode more is a row of unitmodes, a
// counter column more is a field of ifdata and a row of counters and of
// columns here, and the line of sampling that fills it.
#ifndef ZORVAT_CORE_COLUMNS_H
#define ZORVAT_CORE_COLUMNS_H

#include <cstddef>
#include <cstdint>
#include <iterator>

// A unit mode: byte counts are multiplied by mul, then divided by div (all
// powers of two, so the scaling is exact), under these labels.
struct unitmode {
    char option;  // the letter of its option after '-'; 0: none
    double mul;
    double div;
    const char *in;     // label of the received bytes
    const char *out;    // of the sent bytes
    const char *total;  // of both together
};

// The unit modes, indexed by Oflag; entry 0 stands for every value that
// is no mode.
constexpr unitmode unitmodes[] = {
    {0, 1, 1, "IBytes/s", "OBytes/s", "Bytes/s"},       // no mode
    {'M', 1, 1048576, "IMB/s", "OMB/s", "MB/s"},        // OFLAG_MBYTES
    {'K', 1, 1024, "IKB/s", "OKB/s", "KB/s"},           // OFLAG_KBYTES
    {0, 1, 1, "IBytes/s", "OBytes/s", "Bytes/s"},       // OFLAG_BYTES, the default
    {'m', 8, 1048576, "IMbit/s", "OMbit/s", "Mbit/s"},  // OFLAG_MBITS
    {'k', 8, 1024, "IKbit/s", "OKbit/s", "Kbit/s"},     // OFLAG_KBITS
    {'b', 8, 1, "IBit/s", "OBit/s", "Bits/s"},          // OFLAG_BITS
};
constexpr int NUNITMODES = static_cast<int>(std::size(unitmodes));

// Names of the unit modes, the values of Oflag.  Any other value acts as
// OFLAG_BYTES.
constexpr int OFLAG_MBYTES = 1;
constexpr int OFLAG_KBYTES = 2;
constexpr int OFLAG_BYTES = 3;
constexpr int OFLAG_MBITS = 4;
constexpr int OFLAG_KBITS = 5;
constexpr int OFLAG_BITS = 6;

// The unit mode of an Oflag: a value that is no mode counts plain bytes.
constexpr const unitmode &unitof(int oflag) {
    return unitmodes[oflag > 0 && oflag < NUNITMODES ? oflag : 0];
}

// The Oflag whose option has this letter, or 0 when none has.
constexpr int optionmode(char letter) {
    for (int m = 1; letter != '\0' && m < NUNITMODES; ++m) {
        if (unitmodes[m].option == letter) {
            return m;
        }
    }
    return 0;
}

// One sample of one interface: the eight kernel counters.  A counter read
// from a 64-bit statistic holds it whole; one read from a 32-bit statistic
// holds that, and its bit in narrow is set: such a counter wraps at 2^32.
struct ifdata {
    uint64_t rbytes = 0;
    uint64_t ipackets = 0;
    uint64_t obytes = 0;
    uint64_t opackets = 0;
    uint64_t ierrors = 0;
    uint64_t oerrors = 0;
    uint64_t collisions = 0;
    uint64_t nocanput = 0;
    unsigned narrow = 0;  // bit c: counter c came from a 32-bit statistic
};

// The counters of a sample, in the order of the rows of counters, which
// give each its field of ifdata; bit c of narrow belongs to counter c.
// Keep none last: it counts the others.
enum class counter : unsigned { rbytes, ipackets, obytes, opackets, ierrors, oerrors, collisions, nocanput, none };
constexpr size_t NCOUNTERS = static_cast<size_t>(counter::none);

struct countertype {
    uint64_t ifdata::*field;
    counter c;
    // A byte or packet count: read from a 32-bit statistic it wraps past
    // 2^32 in seconds on a fast link, where the others never come near.
    bool wraps;
};
constexpr countertype counters[] = {
    {&ifdata::rbytes, counter::rbytes, true},          {&ifdata::ipackets, counter::ipackets, true},
    {&ifdata::obytes, counter::obytes, true},          {&ifdata::opackets, counter::opackets, true},
    {&ifdata::ierrors, counter::ierrors, false},       {&ifdata::oerrors, counter::oerrors, false},
    {&ifdata::collisions, counter::collisions, false}, {&ifdata::nocanput, counter::nocanput, false},
};
constexpr bool inorder() {
    for (size_t i = 0; i < std::size(counters); ++i) {
        if (static_cast<size_t>(counters[i].c) != i) {
            return false;
        }
    }
    return std::size(counters) == NCOUNTERS;
}
static_assert(inorder(), "a row of counters for each counter, in the enum's order");

constexpr const countertype &counterrow(counter c) {
    return counters[static_cast<size_t>(c)];
}

// A counter that holds this value was not available in its sample.
constexpr uint64_t NOSTAT = ~uint64_t{0};

// A column after the name: its label (a byte column's comes from the unit
// mode), the blanks before it and the width its figures take at least; the
// counter it shows, with a second one added to it for a total; and how it
// shows the change of its counters.
struct column {
    const char *label;
    const char *unitmode::*unitlabel;
    int gap;
    int width;
    counter shows;
    counter plus;
    bool bytes;   // in the unit mode's unit
    bool marked;  // -1.0 when its counter is missing in the newest sample
    bool rate;    // per second, with one decimal; else a count in the interval
};

constexpr column columns[] = {
    {nullptr, &unitmode::in, 1, 14, counter::rbytes, counter::none, true, true, true},
    {nullptr, &unitmode::out, 1, 14, counter::obytes, counter::none, true, true, true},
    {"Ipack/s", nullptr, 1, 8, counter::ipackets, counter::none, false, true, true},
    {"Opack/s", nullptr, 1, 8, counter::opackets, counter::none, false, true, true},
    {"Ierr/s", nullptr, 2, 6, counter::ierrors, counter::none, false, false, true},
    {"Oerr/s", nullptr, 1, 6, counter::oerrors, counter::none, false, false, true},
    {"Col/s", nullptr, 1, 6, counter::collisions, counter::none, false, false, true},
    {nullptr, &unitmode::total, 1, 14, counter::rbytes, counter::obytes, true, false, true},
    {"Pack/s", nullptr, 1, 8, counter::ipackets, counter::opackets, false, false, true},
    {"Nocanput", nullptr, 2, 8, counter::nocanput, counter::none, false, false, false},
};

// The name's field: in a line at least NAMEWIDTH wide, the name never cut;
// in the header HEADNAMEWIDTH, so that the labels stand over the figures of
// a name of that length.
constexpr int NAMEWIDTH = 8;
constexpr int HEADNAMEWIDTH = 10;

#endif
