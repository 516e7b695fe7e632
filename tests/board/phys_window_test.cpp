// Physical windows: where the returned pointer lies, which physical pages
// back the region, the 32 MB commit pieces, and refusals that must map and
// reserve nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>

#include "board/phys_window.h"
#include "module/os/memory_internal.h"
#include "module/os/windows_table.h"
#include "platform/ceddk.h"
#include "tests/support/test_module.h"

using testing_support::BusRecorder;
using testing_support::TestModule;

namespace {

uintptr_t Address(volatile ULONG* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

size_t ReservationCount() {
    std::lock_guard<std::mutex> lock(sim::os::address_space_mutex());
    return sim::os::reservations().size();
}

struct Piece {
    uintptr_t virtualOffset;  // from the region's base
    uint32_t physical;
    uint32_t size;
    bool operator==(const Piece& o) const {
        return virtualOffset == o.virtualOffset && physical == o.physical && size == o.size;
    }
};

void PrintTo(const Piece& piece, std::ostream* out) {
    *out << std::hex << "{+0x" << piece.virtualOffset << ", phys 0x" << piece.physical << ", 0x" << piece.size << "}";
}

// The windows committed since `before` windows existed, relative to base.
std::vector<Piece> NewPieces(size_t before, uintptr_t base) {
    std::vector<sim::CommittedWindow> windows = sim::committed_windows();
    std::vector<Piece> pieces;
    for (size_t i = before; i < windows.size(); i++)
        pieces.push_back({windows[i].virtual_base - base, windows[i].physical_base, windows[i].size});
    return pieces;
}

struct RegisterCase {
    DWORD physical;
    uintptr_t pageOffset;
    uint32_t firstPage;
};

// clang-format off
const RegisterCase kRegisterWindows[] = {
    {0x40E100B4, 0xB4, 0x40E10000},
    {0x40E10126, 0x124, 0x40E10000},
    {0x43100000, 0x000, 0x43100000},
    {0x41300FFF, 0xFFC, 0x41300000},
    {0x00000003, 0x000, 0x00000000},
};
// clang-format on

TEST(MapRegisterWindow, PointerAndPages) {
    for (const char* major : {"os.major=5", "os.major=6"}) {
        TestModule module("pxa270", {major});
        for (const RegisterCase& c : kRegisterWindows) {
            SCOPED_TRACE(std::string(major) + " physical " + std::to_string(c.physical));
            size_t before = sim::committed_windows().size();
            volatile ULONG* window = MapRegisterWindow(c.physical);
            ASSERT_NE(nullptr, window);
            EXPECT_EQ(c.pageOffset, Address(window) & 0xFFF);
            uintptr_t base = Address(window) & ~static_cast<uintptr_t>(0xFFF);
            EXPECT_EQ((std::vector<Piece>{{0, c.firstPage, 0x2000}}), NewPieces(before, base));
            EXPECT_EQ(std::string(major) == "os.major=6", sim::committed_windows().back().via_hal);
            UnmapWindow(window);
            EXPECT_EQ(before, sim::committed_windows().size());
        }
    }
}

TEST(MapRegisterWindow, AccessesReachThePhysicalAddress) {
    TestModule module("pxa270");
    volatile ULONG* window = MapRegisterWindow(0x100B4);
    ASSERT_NE(nullptr, window);
    BusRecorder recorder(module.module());
    READ_REGISTER_ULONG(window);
    // The page after the one holding the address is part of the window too.
    READ_REGISTER_ULONG(window - 0xB4 / 4 + 0x1FFC / 4);
    ASSERT_EQ(2u, recorder.accesses().size());
    EXPECT_EQ(0x100B4u, recorder.accesses()[0].phys);
    EXPECT_EQ(0x11FFCu, recorder.accesses()[1].phys);
    UnmapWindow(window);
}

struct RangeCase {
    DWORD physical, length;
    uintptr_t pageOffset;
    std::vector<Piece> pieces;
};

const RangeCase kRanges[] = {
    {0x1234, 0x10, 0x234, {{0, 0x1000, 0x1000}}},
    {0x1FFE, 0x4, 0xFFC, {{0, 0x1000, 0x2000}}},
    {0x5000, 0x1000, 0x000, {{0, 0x5000, 0x1000}}},
    {0x0, 0x2000000, 0x000, {{0, 0x0, 0x2000000}}},
    {0x0, 0x4000000, 0x000, {{0, 0x0, 0x2000000}, {0x2000000, 0x2000000, 0x2000000}}},
    {0x0, 0x2001000, 0x000, {{0, 0x0, 0x2000000}, {0x2000000, 0x2000000, 0x1000}}},
    {0x800, 0x2000000, 0x800, {{0, 0x0, 0x2000000}, {0x2000000, 0x2000000, 0x1000}}},
    {0xFFFFF000, 0x1000, 0x000, {{0, 0xFFFFF000, 0x1000}}},
};

TEST(MapPhysicalRange, PointerAndCommitPieces) {
    for (const char* major : {"os.major=5", "os.major=6"}) {
        TestModule module("pxa270", {major});
        for (const RangeCase& c : kRanges) {
            SCOPED_TRACE(std::string(major) + " physical " + std::to_string(c.physical) + " length " +
                         std::to_string(c.length));
            size_t before = sim::committed_windows().size();
            size_t reservations = ReservationCount();
            volatile ULONG* window = MapPhysicalRange(c.physical, c.length);
            ASSERT_NE(nullptr, window);
            EXPECT_EQ(c.pageOffset, Address(window) & 0xFFF);
            uintptr_t base = Address(window) & ~static_cast<uintptr_t>(0xFFF);
            EXPECT_EQ(c.pieces, NewPieces(before, base));
            EXPECT_EQ(reservations + 1, ReservationCount());
            UnmapWindow(window);
            EXPECT_EQ(before, sim::committed_windows().size());
            EXPECT_EQ(reservations, ReservationCount());
        }
    }
}

TEST(MapPhysicalRange, WholeNorDeviceReachable) {
    TestModule module("pxa270-p30");
    volatile ULONG* window = MapPhysicalRange(0, 0x4000000);
    ASSERT_NE(nullptr, window);
    BusRecorder recorder(module.module());
    for (DWORD offset : {0x0u, 0x1FFFFFCu, 0x2000000u, 0x3FFFFFCu}) READ_REGISTER_ULONG(window + offset / 4);
    ASSERT_EQ(4u, recorder.accesses().size());
    EXPECT_EQ(0x1FFFFFCu, recorder.accesses()[1].phys);
    EXPECT_EQ(0x2000000u, recorder.accesses()[2].phys);
    EXPECT_EQ(0x3FFFFFCu, recorder.accesses()[3].phys);
    UnmapWindow(window);
}

TEST(MapPhysicalRange, EmptyOrWrappingRangesMapNothing) {
    TestModule module("pxa270");
    const struct {
        DWORD physical, length;
        // clang-format off
    } rows[] = {
        {0x0, 0x0},
        {0x1000, 0x0},
        {0x10, 0xFFFFFFF8},
        {0x0, 0xFFFFFFFF},
        {0xFFFFF000, 0x1001},
        {0xFFFFFFF0, 0x20},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.physical) + " " + std::to_string(row.length));
        size_t before = sim::committed_windows().size();
        size_t reservations = ReservationCount();
        EXPECT_EQ(nullptr, MapPhysicalRange(row.physical, row.length));
        EXPECT_EQ(before, sim::committed_windows().size());
        EXPECT_EQ(reservations, ReservationCount());
    }
}

TEST(PhysWindows, HalRefusalGivesNullWindows) {
    TestModule module("pxa270", {"os.major=6", "hal.kernel_call=false"});
    size_t before = sim::committed_windows().size();
    size_t reservations = ReservationCount();
    EXPECT_EQ(nullptr, MapRegisterWindow(0x40E00000));
    EXPECT_EQ(nullptr, MapPhysicalRange(0, 0x2000000));
    EXPECT_EQ(nullptr, MapPhysicalRange(0, 0x4000000));
    EXPECT_EQ(before, sim::committed_windows().size());
    EXPECT_EQ(reservations, ReservationCount());
}

}  // namespace
