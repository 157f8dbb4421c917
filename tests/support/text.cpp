#include "tests/support/text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

const std::array<std::string, 6> headers = {
    "Name                IMB/s          OMB/s  Ipack/s  Opack/s  Ierr/s Oerr/s  Col/s           MB/s   Pack/s  "
    "Nocanput",
    "Name                IKB/s          OKB/s  Ipack/s  Opack/s  Ierr/s Oerr/s  Col/s           KB/s   Pack/s  "
    "Nocanput",
    "Name             IBytes/s       OBytes/s  Ipack/s  Opack/s  Ierr/s Oerr/s  Col/s        Bytes/s   Pack/s  "
    "Nocanput",
    "Name              IMbit/s        OMbit/s  Ipack/s  Opack/s  Ierr/s Oerr/s  Col/s         Mbit/s   Pack/s  "
    "Nocanput",
    "Name              IKbit/s        OKbit/s  Ipack/s  Opack/s  Ierr/s Oerr/s  Col/s         Kbit/s   Pack/s  "
    "Nocanput",
    "Name               IBit/s         OBit/s  Ipack/s  Opack/s  Ierr/s Oerr/s  Col/s         Bits/s   Pack/s  "
    "Nocanput",
};
const std::string &bytesheader = headers[2];

rates unavailable() {
    rates r;
    r.in = r.out = r.ipk = r.opk = -1;
    return r;
}

std::string rateline(const std::string &name, const rates &r) {
    char buf[512];
    snprintf(buf, sizeof buf, "%-8s %14.1f %14.1f %8.1f %8.1f  %6.1f %6.1f %6.1f %14.1f %8.1f  %8llu", name.c_str(),
             r.in, r.out, r.ipk, r.opk, r.ierr, r.oerr, r.col, r.total, r.pk, r.nocanput);
    return buf;
}

std::vector<std::string> lines(const std::string &s) {
    std::vector<std::string> v;
    size_t at = 0;
    for (size_t nl; (nl = s.find('\n', at)) != std::string::npos; at = nl + 1) {
        v.push_back(s.substr(at, nl - at));
    }
    if (at < s.size()) {
        v.push_back(s.substr(at));
    }
    return v;
}

std::vector<std::string> words(const std::string &s) {
    std::istringstream in(s);
    std::vector<std::string> w;
    for (std::string x; in >> x;) {
        w.push_back(x);
    }
    return w;
}

size_t countreports(const std::string &s) {
    size_t n = 0;
    for (size_t p = s.find("\n\n"); p != std::string::npos; p = s.find("\n\n", p + 2)) {
        ++n;
    }
    return n;
}

std::vector<report> reportsof(const std::string &out) {
    std::vector<report> reports;
    report r;
    bool inreport = false;
    for (const std::string &line : lines(out)) {
        if (!inreport) {
            r = report{line, {}};
            inreport = true;
        } else if (line.empty()) {
            reports.push_back(r);
            inreport = false;
        } else {
            r.lines.push_back(line);
        }
    }
    EXPECT_FALSE(inreport) << "unfinished report in:\n" << out;
    EXPECT_TRUE(out.empty() || out.back() == '\n');
    return reports;
}
