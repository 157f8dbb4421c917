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

// The figures of one rate line.
struct rates {
    double in = 0;
    double out = 0;
    double ipk = 0;
    double opk = 0;
    double ierr = 0;
    double oerr = 0;
    double col = 0;
    double total = 0;
    double pk = 0;
    unsigned long long nocanput = 0;
};

// An interface without statistics: the four byte and packet columns
// print -1.0.
rates unavailable();

// The rate line of the figures, without its newline: the report format
// "%-8s %14.1f %14.1f %8.1f %8.1f  %6.1f %6.1f %6.1f %14.1f %8.1f  %8d",
// the one oracle of a line that the tests have.
std::string rateline(const std::string &name, const rates &r = {});

// The words of a rate line: the name and the ten figures.
constexpr size_t LINEWORDS = 11;

struct report {
    std::string header;
    std::vector<std::string> lines;
};

// Split standard output into reports: a header, lines, an empty line.  An
// unfinished last report is left out and fails the calling test.
std::vector<report> reportsof(const std::string &out);

#endif
