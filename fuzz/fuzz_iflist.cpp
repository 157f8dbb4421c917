// The interface-list parser alone, on the input as a C string (up to its
// first NUL), checked against a plain split of the same text: blanks and
// commas separate names, empty names do not exist.  A list with a name of
// more than 31 characters or more than 256 names must be refused through
// Usage() (exit status 1); any other list must fill exactly the entries of
// its names, in order, and touch nothing else.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "catchexit.h"
#include "listmon/iftable.h"

namespace {

std::vector<std::string> split(const std::string &s) {
    std::vector<std::string> names;
    std::string name;
    for (char ch : s) {
        if (ch == ' ' || ch == ',') {
            if (!name.empty()) {
                names.push_back(name);
                name.clear();
            }
        } else {
            name += ch;
        }
    }
    if (!name.empty()) {
        names.push_back(name);
    }
    return names;
}

void parse(void *p) {
    IFparse(static_cast<const char *>(p), "zorvat3");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    quietstderr();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The text in an allocation of exactly its size, so that a read past
    // its NUL is caught.
    const void *nul = std::memchr(data, 0, size);
    size_t len = nul ? static_cast<size_t>(static_cast<const uint8_t *>(nul) - data) : size;
    std::vector<char> text(data, data + len);
    text.push_back('\0');
    text.shrink_to_fit();

    std::vector<std::string> want = split(std::string(text.data(), len));
    bool refuse = want.size() > static_cast<size_t>(IFMAX);
    for (const auto &n : want) {
        refuse = refuse || n.size() > static_cast<size_t>(IFNAMEMAX);
    }

    std::memset(IFlist, 0, sizeof IFlist);
    IFnumb = 0;
    int status = 0;
    bool ok = completes(parse, text.data(), &status);
    if (refuse) {
        FUZZ_CHECK(!ok && status == 1);
        return 0;
    }
    FUZZ_CHECK(ok);
    FUZZ_CHECK(IFnumb == static_cast<int>(want.size()));
    for (int i = 0; i < IFnumb; ++i) {
        const IFinfo &e = IFlist[i];
        FUZZ_CHECK(std::memchr(e.name, '\0', sizeof e.name) != nullptr);
        FUZZ_CHECK(want[static_cast<size_t>(i)] == e.name);
        size_t used = std::strlen(e.name);
        FUZZ_CHECK(allzero(e.name + used, sizeof e.name - used));
        FUZZ_CHECK(allzero(&e.curr, sizeof e.curr) && allzero(&e.prev, sizeof e.prev));
    }
    FUZZ_CHECK(allzero(IFlist + IFnumb, sizeof(IFinfo) * static_cast<size_t>(IFMAX - IFnumb)));
    return 0;
}
