// Room made at once for the parts of a chain, in one mapping.
#ifndef ZORVAT_PLATFORM_LINUX_ROOM_H
#define ZORVAT_PLATFORM_LINUX_ROOM_H

#include <sys/mman.h>

#include <array>
#include <cstddef>

// Room of the sizes, in one mapping (*room, of *total bytes), each part
// 64-byte aligned: its pages made at once (populate), or as they are
// first touched.  The parts, all null (and *room null) when there is no
// room.  The mapping is given back with munmap(*room, *total).
template <size_t N>
std::array<void *, N> mapparts(const std::array<size_t, N> &sizes, void **room, size_t *total, bool populate) {
    std::array<void *, N> parts{};
    *total = 0;
    for (size_t size : sizes) {
        *total += (size + 63) & ~size_t{63};
    }
    *room = mmap(nullptr, *total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | (populate ? MAP_POPULATE : 0),
                 -1, 0);
    if (*room == MAP_FAILED) {
        *room = nullptr;
        return parts;
    }
    char *at = static_cast<char *>(*room);
    for (size_t i = 0; i < N; ++i) {
        parts[i] = at;
        at += (sizes[i] + 63) & ~size_t{63};
    }
    return parts;
}

#endif
