// The column header: six texts, fixed label columns, chosen once a process.
#include <gtest/gtest.h>

#include "core/zorvat.h"
#include "tests/fakes/fakes.h"
#include "tests/support/capture.h"
#include "tests/support/text.h"

namespace {

// The column, counted from 1, of the last character of each label.
const std::vector<size_t> labelcolumns = {4, 25, 40, 49, 58, 66, 73, 80, 95, 104, 114};

// Columns where a run of non-blank characters ends.
std::vector<size_t> runends(const std::string &s) {
    std::vector<size_t> ends;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != ' ' && (i + 1 == s.size() || s[i + 1] == ' ')) {
            ends.push_back(i + 1);
        }
    }
    return ends;
}

// pbanner chooses its text at the first call and keeps it, so each mode
// needs a fresh process; a later change of Oflag must not change it.  Each
// text is 114 characters, its labels ending in the same columns.
TEST(Banner, ChosenOnceByTheModeOfTheFirstCall) {
    const struct {
        int oflag;
        int shown;  // the mode whose text is printed
    } cases[] = {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {0, 3}, {7, 3}, {-1, 3}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.oflag);
        capture::ran r = capture::inchild([&] {
            Oflag = c.oflag;
            pbanner();
            Oflag = c.oflag == OFLAG_MBYTES ? OFLAG_BITS : OFLAG_MBYTES;
            pbanner();
            endreport();
        });
        const std::string &h = headers[static_cast<size_t>(c.shown - 1)];
        EXPECT_EQ(capture::exitcode(r), 0);
        EXPECT_EQ(r.out, h + "\n" + h + "\n\n");
        EXPECT_EQ(r.err, "");
        const std::string shown = r.out.substr(0, r.out.find('\n'));
        EXPECT_EQ(shown.size(), 114U);
        EXPECT_EQ(runends(shown), labelcolumns);
    }
}

// With a name field 10 characters wide, the fields of a rate line end
// under the last characters of the labels.
TEST(Banner, RateLineFieldsEndUnderTheLabels) {
    Oflag = OFLAG_BYTES;
    Elapsed = 5;
    const ifdata prev{1000000, 2000, 500000, 1000, 7, 0, 0, 10};
    const ifdata curr{1010240, 2050, 505120, 1025, 8, 0, 0, 13};
    std::string line = capture::captured([&] {
        printline("abcdefghij", curr, prev);
        endreport();
    });
    ASSERT_EQ(line.substr(line.size() - 2), "\n\n");
    line.resize(line.size() - 2);
    std::vector<size_t> ends = runends(line);
    ASSERT_EQ(ends.size(), labelcolumns.size());
    EXPECT_EQ(ends.front(), 10U);
    EXPECT_EQ(std::vector<size_t>(ends.begin() + 1, ends.end()),
              std::vector<size_t>(labelcolumns.begin() + 1, labelcolumns.end()));
}

}  // namespace
