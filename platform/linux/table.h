// The stand-ins' one growable table.
#ifndef ZORVAT_PLATFORM_LINUX_TABLE_H
#define ZORVAT_PLATFORM_LINUX_TABLE_H

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

// `count` items of plain data from `items`, in room for `room`, from
// malloc.  Nothing here throws: without memory add() fails, so that a
// monitor short of memory fails the one step that needed it.
template <typename T>
struct table {
    T *items = nullptr;
    size_t count = 0;
    size_t room = 0;

    // A new zero-filled item at the end, or null with errno ENOMEM.  A
    // full table doubles, from 64 items.
    T *add() {
        if (count == room) {
            const size_t more = room ? 2 * room : 64;
            auto *p = static_cast<T *>(realloc(items, more * sizeof(T)));
            if (!p) {
                errno = ENOMEM;
                return nullptr;
            }
            items = p;
            room = more;
        }
        T *item = &items[count++];
        memset(static_cast<void *>(item), 0, sizeof(T));
        return item;
    }

    void release() {
        free(items);
        *this = {};
    }
};

#endif
