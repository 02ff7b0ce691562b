// A large sheet gives the workbook's bytes back as it is read and is kept
// for later readers: read again, from other threads, or beside a sheet that
// follows it in the stream, it has the same cells, and a damaged one keeps
// failing the same way. Smaller sheets are kept once read as well.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "xls/workbook.h"

namespace {

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

void record(std::vector<uint8_t>& out, uint16_t type, const std::vector<uint8_t>& body) {
    put16(out, type);
    put16(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
}

void bof(std::vector<uint8_t>& out, uint16_t kind) {
    std::vector<uint8_t> body;
    put16(body, 0x0600);  // BIFF8
    put16(body, kind);
    body.resize(16, 0);
    record(out, 0x0809, body);
}

// A bare BIFF8 stream: sheet "Big" of `cells` RK numbers, eight to a row,
// each holding its own position, with an EOF unless `cut`; then sheet
// "Small" with one cell.
std::vector<uint8_t> workbook(uint32_t cells, bool cut) {
    std::vector<uint8_t> out;
    bof(out, 0x0005);
    size_t offsetAt[2] = {};
    for (const std::string name : {"Big", "Small"}) {
        offsetAt[name == "Big" ? 0 : 1] = out.size() + 4;
        std::vector<uint8_t> body(4, 0);  // the offset, filled in below
        put16(body, 0);                   // visible worksheet
        body.push_back(static_cast<uint8_t>(name.size()));
        body.push_back(0);  // 8-bit characters
        body.insert(body.end(), name.begin(), name.end());
        record(out, 0x0085, body);
    }
    record(out, 0x000A, {});
    const auto patch = [&](size_t at) {
        const auto offset = static_cast<uint32_t>(out.size());
        for (int i = 0; i < 4; ++i) out[at + static_cast<size_t>(i)] = (offset >> (8 * i)) & 0xFF;
    };
    patch(offsetAt[0]);
    bof(out, 0x0010);
    for (uint32_t i = 0; i < cells; ++i) {
        std::vector<uint8_t> rk;
        put16(rk, i / 8);
        put16(rk, i % 8);
        put16(rk, 0);
        put32(rk, (i << 2) | 0x02);  // an integer RK
        record(out, 0x027E, rk);
    }
    if (!cut) {
        record(out, 0x000A, {});
    }
    patch(offsetAt[1]);
    bof(out, 0x0010);
    std::vector<uint8_t> rk;
    put16(rk, 7);
    put16(rk, 3);
    put16(rk, 0);
    put32(rk, (42u << 2) | 0x02);
    record(out, 0x027E, rk);
    record(out, 0x000A, {});
    return out;
}

constexpr uint32_t kCells = 400'000;  // 5.6 MB of RK records

void expectBigSheet(const xls::Sheet& sheet) {
    ASSERT_EQ(sheet.cellCount(), kCells);
    for (const uint32_t i : {0u, 9u, kCells / 2 + 3, kCells - 1}) {
        const auto row = sheet.row(i / 8);
        ASSERT_EQ(row.size(), 8u) << i;
        const double number = row[i % 8].number;  // a copy: cells align numbers to 4 only
        EXPECT_EQ(number, static_cast<double>(i));
    }
}

void expectSmallSheet(const xls::Sheet& sheet) {
    ASSERT_EQ(sheet.cellCount(), 1u);
    const xls::Cell cell = sheet.row(7)[0];
    const double number = cell.number;
    EXPECT_EQ(cell.col, 3);
    EXPECT_EQ(number, 42.0);
}

}  // namespace

TEST(LargeSheet, ReadAgainAndFromOtherThreadsItHasTheSameCells) {
    const xls::Workbook book = xls::Workbook::fromBytes(workbook(kCells, false));
    std::vector<std::thread> readers;
    readers.reserve(4);
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&book] { expectBigSheet(book.sheet(0)); });
    }
    for (std::thread& t : readers) t.join();
    expectBigSheet(book.sheet(0));
    expectSmallSheet(book.sheet(1));
}

TEST(LargeSheet, ADamagedOneFailsTheSameWayEveryTime) {
    const xls::Workbook book = xls::Workbook::fromBytes(workbook(kCells, true));
    std::string first;
    for (int i = 0; i < 2; ++i) {
        try {
            (void)book.sheet(0);
            ADD_FAILURE() << "the sheet runs into the next one without an EOF";
        } catch (const xls::Error& e) {
            EXPECT_EQ(e.kind(), xls::ErrorKind::Damaged);
            if (i == 0) {
                first = e.what();
            }
            EXPECT_EQ(e.what(), first);
        }
    }
    expectSmallSheet(book.sheet(1));
}

// Small sheets are parsed once too: a client that reads many tables of one
// sheet (a thousand defined names over it, SQLColumns over the workbook)
// must not parse it once per table. The second read gives the very cells of
// the first, from any thread.
TEST(EverySheet, IsParsedOncePerWorkbook) {
    const xls::Workbook book = xls::Workbook::fromBytes(workbook(1000, false));
    // Both held, so that no later parse could reuse their memory.
    const xls::Sheet small = book.sheet(1);
    const xls::Sheet big = book.sheet(0);
    std::thread other([&] {
        EXPECT_EQ(book.sheet(1).row(7).data(), small.row(7).data());
        EXPECT_EQ(book.sheet(0).row(0).data(), big.row(0).data());
    });
    other.join();
    EXPECT_EQ(book.sheet(1).row(7).data(), small.row(7).data());
    EXPECT_EQ(book.sheet(0).row(0).data(), big.row(0).data());
}
