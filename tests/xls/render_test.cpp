// Numbers as text: the fast path (the shortest decimal that reads back as
// the value) must give exactly what C's %.15G gives, whose rounding glibc
// does exactly, on every kind of double: arbitrary bit patterns, short
// decimals at every scale and their neighbours, powers of ten at the
// layout switches, subnormals, integers around 10^15.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "xls/render.h"

namespace {

std::string rendered(double v) {
    std::u16string s;
    xls::detail::renderNumber(v, s);
    return {s.begin(), s.end()};
}

// General format: integers below 10^15 in full, the rest with 15
// significant digits.
std::string printfGeneral(double v) {
    char buf[64];
    if (v == 0) {
        return "0";
    }
    if (std::fabs(v) < 1e15 && v == std::trunc(v)) {
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v));
    } else {
        std::snprintf(buf, sizeof buf, "%.15G", v);
    }
    return buf;
}

class NumberText : public testing::Test {
protected:
    void expectSame(double v) {
        if (!std::isfinite(v)) {
            return;
        }
        const std::string got = rendered(v), want = printfGeneral(v);
        if (got != want && m_failures++ < 5) {
            ADD_FAILURE() << std::hexfloat << v << ": " << got << ", %.15G gives " << want;
        }
    }
    void expectSameAround(double v) {
        expectSame(v);
        expectSame(-v);
        expectSame(std::nextafter(v, 0.0));
        expectSame(std::nextafter(v, HUGE_VAL));
    }
    std::mt19937_64 m_random{20240229};
    size_t m_failures = 0;
};

TEST_F(NumberText, AgreesWithFifteenDigitPrintfOnArbitraryBitPatterns) {
    for (int i = 0; i < 200000; ++i) {
        const uint64_t bits = m_random();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        expectSame(v);
    }
}

TEST_F(NumberText, AgreesOnShortDecimalsAtEveryScaleAndTheirNeighbours) {
    for (int i = 0; i < 100000; ++i) {
        const auto digits = static_cast<double>(m_random() % 100000000);
        const int scale = static_cast<int>(m_random() % 40) - 25;
        expectSameAround(digits * std::pow(10.0, scale));
        expectSameAround(static_cast<double>(m_random() % 1000000) / 8.0 + 0.001);
    }
}

TEST_F(NumberText, AgreesAtTheLayoutSwitchesAndBelowTheNormalRange) {
    for (int e = -320; e <= 308; ++e) {
        const double p = std::pow(10.0, e);
        expectSameAround(p);
        expectSameAround(p * 9.99999999999999);
        expectSameAround(p * 1.5);
    }
    for (double v : {1e15, 1e15 + 0.5, 999999999999999.0, 4503599627370495.5, 0.0001,
                     0.000099999999999999995, 5e-324, 2.2250738585072014e-308}) {
        expectSameAround(v);
    }
}

}  // namespace
