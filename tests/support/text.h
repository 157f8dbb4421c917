// What the programs print, taken apart: lines, words, reports, and the
// column headers they must begin with.
#ifndef ZORVAT_TESTS_SUPPORT_TEXT_H
#define ZORVAT_TESTS_SUPPORT_TEXT_H

#include <array>
#include <string>
#include <vector>

// The six column headers, indexed by unit mode - 1 (Oflag 1 to 6).
extern const std::array<std::string, 6> headers;
extern const std::string &bytesheader;  // the default one, mode 3

// Lines of a text, the empty ones included; the newline ending the last
// line starts no line of its own.
std::vector<std::string> lines(const std::string &s);

// Blank-separated words of a text.
std::vector<std::string> words(const std::string &s);

// Number of whole reports in a text: each ends with an empty line.
size_t countreports(const std::string &s);

struct report {
    std::string header;
    std::vector<std::string> lines;
};

// Split standard output into reports: a header, lines, an empty line.  An
// unfinished last report is left out and fails the calling test.
std::vector<report> reportsof(const std::string &out);

#endif
