// The binding of names to links, as a table of event sequences: no
// kernel, no root.  Counters are written as one number v, which stands for
// the eight counters v, 2v, ..., 8v, so that a counter taken from another
// one shows.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "platform/linux/binding.h"

namespace {

using std::string;
using strings = std::vector<string>;

linkcounters counters(uint64_t v) {
    return {v, 2 * v, 3 * v, 4 * v, 5 * v, 6 * v, 7 * v, 8 * v};
}

// A binding of names, driven by steps:
//   set NAME INDEX OWN      NAME is borne by link INDEX (own name OWN) at the start
//   link INDEX OWN [ALT..] [@V]   a message of the link: its names, its counters V
//   gone INDEX [@V]         the link is gone
//   epoch                   a new epoch
//   count INDEX V           the link's counters V, read in the current epoch
//   lost                    announcements lost
//   lookup NAME INDEX OWN   a lookup of NAME found link INDEX (0: none)
//   dump / sweep            a dump of every link begins / has ended
//   expect NAME INDEX V     NAME is borne by INDEX (0: none) and its counters are V (-: none yet)
//   doubt NAME / sure NAME  NAME's link is in doubt / is not
//   linkof OWN INDEX        the link whose own name is OWN, as the binding knows it
struct alignas(64) block {
    char bytes[64];
};

struct harness {
    std::vector<std::array<char, 32>> names;
    std::vector<block> eager;
    std::vector<block> lazy;
    binding b{};
    unsigned epoch = 0;
    unsigned since = 0;

    explicit harness(const strings &of) : names(of.size()) {
        for (size_t k = 0; k < of.size(); ++k) {
            snprintf(names[k].data(), names[k].size(), "%s", of[k].c_str());
        }
        size_t e = 0;
        size_t l = 0;
        bindsizes(of.size(), &e, &l);
        eager.assign(e / sizeof(block) + 1, block{});
        lazy.assign(l / sizeof(block) + 1, block{});
        bindopen(&b, of.size(), names.empty() ? "" : names[0].data(), sizeof(std::array<char, 32>), eager.data(),
                 lazy.data());
        epoch = bindepoch(&b);
    }

    size_t number(const string &name) {
        const long k = bindfind(&b, name.c_str());
        EXPECT_GE(k, 0) << name << " is no name of the binding";
        return k < 0 ? 0 : static_cast<size_t>(k);
    }

    void step(const string &text) {
        SCOPED_TRACE(text);
        std::istringstream in(text);
        string verb;
        in >> verb;
        strings words;
        for (string w; in >> w;) {
            words.push_back(w);
        }
        linkcounters at{};
        const bool counted = !words.empty() && words.back()[0] == '@';
        if (counted) {
            at = counters(std::stoull(words.back().substr(1)));
            words.pop_back();
        }
        auto index = [&](size_t i) { return std::stoi(words.at(i)); };
        if (verb == "set") {
            bindset(&b, number(words.at(0)), index(1), words.at(2).c_str());
        } else if (verb == "link") {
            linkbegin(&b, index(0), words.at(1).c_str(), counted ? &at : nullptr);
            for (size_t i = 2; i < words.size(); ++i) {
                linkalso(&b, words[i].c_str());
            }
            linkend(&b);
        } else if (verb == "gone") {
            linkgone(&b, index(0), counted ? &at : nullptr);
        } else if (verb == "epoch") {
            epoch = bindepoch(&b);
        } else if (verb == "count") {
            bindcount(&b, index(0), counters(std::stoull(words.at(1))), epoch);
        } else if (verb == "lost") {
            bindlost(&b);
        } else if (verb == "lookup") {
            bindlookup(&b, number(words.at(0)), index(1), words.size() > 2 ? words[2].c_str() : "");
        } else if (verb == "dump") {
            since = bindstamp(&b);
        } else if (verb == "sweep") {
            bindsweep(&b, since);
        } else if (verb == "expect") {
            const boundname &n = b.of[number(words.at(0))];
            EXPECT_EQ(n.index, index(1));
            if (words.at(2) == "-") {
                EXPECT_FALSE(n.hasdata);
            } else {
                const linkcounters want = counters(std::stoull(words[2]));
                EXPECT_EQ(memcmp(&n.c, &want, sizeof want), 0)
                    << "rxbytes " << n.c.rxbytes << " txpackets " << n.c.txpackets << ", want " << want.rxbytes;
            }
        } else if (verb == "doubt" || verb == "sure") {
            EXPECT_EQ(binddoubt(&b, number(words.at(0))), verb == "doubt");
        } else if (verb == "linkof") {
            EXPECT_EQ(bindlinkof(&b, words.at(0).c_str()), index(1));
        } else {
            ADD_FAILURE() << "no such step";
        }
    }
};

TEST(Binding, EventSequences) {
    const strings start = {"set va 10 va", "set vb 11 vb", "count 10 100", "count 11 5000"};
    const struct {
        const char *what;
        strings names;
        strings steps;
    } rows[] = {
        {"renamed away and back: what it counted meanwhile is left out",
         {"va", "vb"},
         {"link 10 vold @150", "expect va 0 150", "epoch", "count 10 170", "expect va 0 150", "link 10 va @180",
          "expect va 10 150", "epoch", "count 10 200", "expect va 10 170"}},
        {"a name never goes down: a reading later than the announcement of its leaving",
         {"va", "vb"},
         {"epoch", "count 10 200", "link 10 vold @150", "expect va 0 200"}},
        {"a flags change names the link as it was",
         {"va", "vb"},
         {"link 10 va @120", "epoch", "count 10 130", "expect va 10 130"}},
        {"two links swap names",
         {"va", "vb"},
         {"link 10 vtmp @110", "link 11 va @5100", "link 10 vb @120", "expect va 11 110", "expect vb 10 5100", "epoch",
          "count 10 130", "count 11 5200", "expect va 11 210", "expect vb 10 5110"}},
        {"a link moved in with its history",
         {"va", "vb"},
         {"gone 10 @120", "expect va 0 120", "link 30 va @90000", "epoch", "count 30 90010", "expect va 30 130"}},
        {"an index reused, by another name and then by the name",
         {"va", "vb"},
         {"gone 10 @120", "link 10 vx @0", "epoch", "count 10 50", "expect va 0 120", "link 10 va @60", "epoch",
          "count 10 67", "expect va 10 127"}},
        {"counters read in the epoch in which the name moved are not its",
         {"va", "vb"},
         {"epoch", "link 10 vtmp @105", "link 11 va @5050", "count 11 5080", "count 10 108", "expect va 11 105",
          "epoch", "count 11 5090", "expect va 11 145"}},
        {"a loss and the lookups after it: the link that bears the name counts from its next counters",
         {"va", "vb"},
         {"lost", "doubt va", "doubt vb", "lookup va 12 va", "sure va", "expect va 12 100", "epoch", "count 12 5000",
          "expect va 12 100", "epoch", "count 12 5050", "expect va 12 150", "lookup vb 0", "expect vb 0 5000"}},
        {"an alternative name after a loss: both names read the link, neither loses it",
         {"vb", "va"},
         {"link 10 vaway @110", "lost", "lookup va 11 vb", "lookup vb 11 vb", "epoch", "count 11 5100", "epoch",
          "count 11 5150", "expect vb 11 5150", "expect va 11 160"}},
        {"an alternative name added, moved and removed",
         {"va", "vb", "uplink"},
         {"expect uplink 0 -", "link 10 va uplink @110", "epoch", "count 10 150", "expect uplink 10 40",
          "expect va 10 150", "linkof va 10", "link 10 va @160", "expect uplink 0 50", "link 11 vb uplink @5200",
          "epoch", "count 11 5210", "expect uplink 11 60", "expect vb 11 5210", "link 11 vb @5220",
          "expect uplink 0 70", "expect vb 11 5210"}},
        {"an alternative name whose link is renamed: /proc/net/dev names the link",
         {"va", "vb", "uplink"},
         {"set uplink 10 va", "linkof va 10", "link 10 vz uplink @0", "linkof vz 10", "linkof va 0", "gone 10 @0",
          "linkof vz 0"}},
        {"a dump of every link after a loss settles every name",
         {"va", "vb", "uplink", "vc"},
         {"set vc 13 vc",
          "lost",
          "dump",
          "link 11 va",
          "link 12 vb uplink",
          "sweep",
          "sure vc",
          "expect va 11 100",
          "expect vb 12 5000",
          "expect uplink 12 -",
          "expect vc 0 -",
          "epoch",
          "count 11 7",
          "count 12 8",
          "epoch",
          "count 11 8",
          "count 12 10",
          "expect va 11 101",
          "expect vb 12 5002",
          "expect uplink 12 2"}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        harness h(row.names);
        for (const string &s : start) {
            h.step(s);
        }
        h.step("epoch");
        for (const string &s : row.steps) {
            h.step(s);
        }
    }
}

}  // namespace
