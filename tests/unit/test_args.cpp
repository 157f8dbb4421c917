// The command line: numbers, the unit option, the command name, set-up
// failures.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>

#include "core/zorvat.h"
#include "tests/fakes/fakes.h"
#include "tests/support/capture.h"

namespace {

TEST(Args, NumbersReadAsAtoiReadsThem) {
    const std::pair<const char *, int> cases[] = {
        {"5s", 5},
        {"abc", 0},
        {"", 0},
        {" 7", 7},
        {"\t\n 8", 8},
        {"+3", 3},
        {"-1", -1},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"0x10", 0},
    };
    for (const auto &[text, value] : cases) {
        EXPECT_EQ(argtoi(text, "zv"), value) << '"' << text << '"';
    }
}

TEST(Args, NumbersBeyondIntAreUsageErrors) {
    for (const char *text : {"2147483648", "-2147483649", "99999999999999999999", " -99999999999999999999x"}) {
        EXPECT_EXIT(argtoi(text, "zv"), testing::ExitedWithCode(1), "Usage: zv ") << text;
    }
}

TEST(Args, UnitOption) {
    const struct {
        std::vector<const char *> args;  // after the command name
        int oflag;                       // -1: usage error
        bool consumed;
    } cases[] = {
        {{"-M", "5"}, OFLAG_MBYTES, true}, {{"-K", "5"}, OFLAG_KBYTES, true}, {{"-m", "5"}, OFLAG_MBITS, true},
        {{"-k", "5"}, OFLAG_KBITS, true},  {{"-b", "5"}, OFLAG_BITS, true},   {{"-kx", "5"}, OFLAG_KBITS, true},
        {{"5", "-k"}, OFLAG_BYTES, false}, {{}, OFLAG_BYTES, false},          {{"-k"}, OFLAG_KBITS, true},
        {{"-", "5"}, -1, false},           {{"-x", "5"}, -1, false},          {{"-3"}, -1, false},
    };
    for (const auto &c : cases) {
        std::vector<const char *> argvec = {"zv"};
        argvec.insert(argvec.end(), c.args.begin(), c.args.end());
        argvec.push_back(nullptr);
        int argc = static_cast<int>(argvec.size()) - 1;
        char **argv = const_cast<char **>(argvec.data());
        SCOPED_TRACE(argc > 1 ? argv[1] : "(none)");
        Oflag = OFLAG_BYTES;
        if (c.oflag < 0) {
            EXPECT_EXIT(unitoption(argc, argv, "zv"), testing::ExitedWithCode(1), "Usage: zv ");
            continue;
        }
        unitoption(argc, argv, "zv");
        EXPECT_EQ(Oflag, c.oflag);
        int left = static_cast<int>(c.args.size()) - (c.consumed ? 1 : 0);
        EXPECT_EQ(argc, left + 1);
        EXPECT_EQ(argv + 1, argvec.data() + 1 + (c.consumed ? 1 : 0));
    }
}

TEST(Args, CommandName) {
    char own[] = "/bin/zv";
    char *argv[] = {own, nullptr};
    EXPECT_STREQ(commandname(1, argv), "/bin/zv");
    char *none[] = {nullptr};
    EXPECT_STREQ(commandname(0, none), "zorvat2");
}

TEST(Args, UsageTextOnStandardError) {
    capture::ran r = capture::inchild([] { Usage("zv"); });
    EXPECT_EQ(capture::exitcode(r), 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zv (kov) v.2.0\nUsage: zv [ -K | -k | -M | -m | -b ] interval [times]\n");
}

TEST(Args, KstatThatCannotBeOpenedEndsTheRun) {
    fake::kreset();
    fake::kopenerrno = EACCES;
    EXPECT_EXIT(openkstat(), testing::ExitedWithCode(1), "^can't open kstat control structure: Permission denied\n$");
    fake::kopenerrno = 0;
    EXPECT_NE(openkstat(), nullptr);
}

}  // namespace
