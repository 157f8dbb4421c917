// Rate lines: two samples of one interface become per-second figures.
#include <charconv>
#include <cstring>
#include <iterator>

#include "core/zorvat.h"

namespace {

// One counter's change between two samples.  A counter that is NOSTAT in
// either sample has no change: without this a statistic that comes or goes
// between samples would show its whole value as one interval's traffic.
// A counter that went down either wrapped or was reset: a 32-bit byte or
// packet counter wraps past 2^32 on a fast link, so its change is the
// modular one; any other (a 64-bit counter, or an error, collision or drop
// count, which never comes near 2^32) was reset, when its device's driver
// restarted, say, and its change is its count since then.
struct change {
    bool missing;
    uint64_t diff;
};

change diff(const ifdata &curr, const ifdata &prev, counter c) {
    if (c == counter::none) {
        return {false, 0};
    }
    const countertype &t = counterrow(c);
    const uint64_t now = curr.*t.field;
    const uint64_t was = prev.*t.field;
    if (now == NOSTAT || was == NOSTAT) {
        return {true, 0};
    }
    if (now >= was) {
        return {false, now - was};
    }
    const bool narrow = (curr.narrow & (1U << static_cast<unsigned>(c))) != 0;
    return {false, narrow && t.wraps ? (now - was) & 0xFFFFFFFF : now};
}

// Room for any figure the library writes with one decimal: the largest
// double has 309 digits.
constexpr size_t FIGUREROOM = 330;

// Put the text of a figure right-aligned in a field of width, after gap
// blanks; a wider figure widens the field.
char *putfield(char *p, int gap, int width, const char *text, const char *end) {
    const auto len = static_cast<int>(end - text);
    for (int pad = gap + (width > len ? width - len : 0); pad > 0; --pad) {
        *p++ = ' ';
    }
    memcpy(p, text, static_cast<size_t>(len));
    return p + len;
}

}  // namespace

void printline(const char *name, const ifdata &curr, const ifdata &prev) {
    const unitmode &u = unitof(Oflag);
    const double secs = Elapsed;

    char line[32 + std::size(columns) * (2 + FIGUREROOM) + 1];
    char *p = line;
    size_t len = strnlen(name, 31);
    memcpy(p, name, len);
    p += len;
    for (; len < NAMEWIDTH; ++len) {
        *p++ = ' ';
    }
    for (const column &c : columns) {
        const change a = diff(curr, prev, c.shows);
        const change b = diff(curr, prev, c.plus);
        char figure[FIGUREROOM];
        std::to_chars_result r{};
        if (!c.rate) {
            r = std::to_chars(figure, figure + sizeof figure, a.diff + b.diff);
        } else {
            double v = -1.0;
            if (!c.marked || !a.missing) {
                v = static_cast<double>(a.diff) + static_cast<double>(b.diff);
                if (c.bytes) {
                    v = v * u.mul / u.div;
                }
                v /= secs;
            }
            // The bytes of printf's "%.1f".
            r = std::to_chars(figure, figure + sizeof figure, v, std::chars_format::fixed, 1);
        }
        p = putfield(p, c.gap, c.width, figure, r.ptr);
    }
    *p++ = '\n';
    putreport(line, static_cast<size_t>(p - line));
}
