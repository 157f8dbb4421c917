// The column header, made from the table of columns for the unit mode.
#include <cstring>
#include <string_view>

#include "core/columns.h"
#include "core/zorvat.h"

int Oflag = OFLAG_BYTES;

namespace {

// "Name" and every label right-aligned over its column's figures: the
// labels end where the figures of a name of HEADNAMEWIDTH characters end.
size_t makebanner(char *to, const unitmode &u) {
    constexpr std::string_view name = "Name";
    char *p = to;
    name.copy(p, name.size());
    p += HEADNAMEWIDTH;
    for (const column &c : columns) {
        const char *label = c.label ? c.label : u.*c.unitlabel;
        const auto len = static_cast<int>(strlen(label));
        p += c.gap + (c.width > len ? c.width - len : 0);
        memcpy(p, label, static_cast<size_t>(len));
        p += len;
    }
    *p++ = '\n';
    return static_cast<size_t>(p - to);
}

}  // namespace

void pbanner() {
    // Chosen once: the header of a run never changes.
    static char banner[256];
    static size_t len = 0;
    if (len == 0) {
        memset(banner, ' ', sizeof banner);
        len = makebanner(banner, unitof(Oflag));
    }
    putreport(banner, len);
}
