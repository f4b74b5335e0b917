// The rule of the reserve, one row a device: the figures the session reads,
// the count and any reserve given, against the reserve, the limit and the
// browser's room it settles, or why it refuses. The trial's shapes carry
// the figures the emulated devices gave and the reserves they were given
// there (docs/runs/); the rest are edges of the rule.
#include <gtest/gtest.h>

#include "session/session.h"

namespace {

constexpr std::uint64_t none = UINT64_MAX;  // no reserve given: the rule's

struct Row {
    const char *name;
    CountKind count;
    Figures f;               // ram, swap, zram, left, keep, x_count, in_use
    std::uint64_t given;     // MiB, or none
    std::uint64_t mib;       // the reserve settled (the rule's, when refused)
    std::int64_t limit;      // KiB
    std::int64_t room;       // KiB
    Refusal refusal;
    bool cut;                // the rule's reserve cut to leave the browser room
};

void PrintTo(const Row &row, std::ostream *os)
{
    *os << row.name;
}

// The emulated 64 MiB device: MemTotal 49492 KiB, 3512 KiB kept by the
// kernel; 48 MiB: 33252 and 2768; 128 MiB: 114404 and 5660. What the
// device has left at rest: RAM less 13760 KiB in use, and its free swap.
constexpr std::uint64_t ram64 = 49492, ram48 = 33252, ram128 = 114404;
constexpr std::uint64_t in_use = 13760;

constexpr Row rows[] = {
    // The trial's shapes, with the session's own choice.
    {"Shape48Plus48", CountKind::headroom, {ram48, 49148, 0, ram48 - in_use + 49148, 2768, 0, 0, false},
     none, 28, 53728, 39968, Refusal::none, false},
    {"Shape64Plus0", CountKind::headroom, {ram64, 0, 0, ram64 - in_use, 3512, 0, 0, false},
     none, 17, 32084, 18324, Refusal::none, false},
    {"Shape64Plus64", CountKind::headroom, {ram64, 65532, 0, ram64 - in_use + 65532, 3512, 0, 0, false},
     none, 37, 77136, 63376, Refusal::none, false},
    // zram, free, counts at two thirds, what filling it gives back.
    {"Shape64PlusZram32", CountKind::headroom,
     {ram64, 32764, 32764, ram64 - in_use + 32764 - 32764 / 3, 3512, 0, 0, false},
     none, 26, 55632, 30951, Refusal::none, false},
    // Two areas: the disk and zram, both counted, zram at two thirds.
    {"Shape64Plus32PlusZram32", CountKind::headroom,
     {ram64, 65528, 32764, ram64 - in_use + 65528 - 32764 / 3, 3512, 0, 0, false},
     none, 34, 80204, 55523, Refusal::none, false},
    {"Shape128Plus0", CountKind::headroom, {ram128, 0, 0, ram128 - in_use, 5660, 0, 0, false},
     none, 30, 83684, 69924, Refusal::none, false},
    {"Shape128Plus128", CountKind::headroom,
     {ram128, 131068, 0, ram128 - in_use + 131068, 5660, 0, 0, false},
     none, 71, 172768, 159008, Refusal::none, false},
    // Behind a tripwire at the limit the margin is what the tripwire lets
    // through: 1 MiB, not 5.
    {"Shape64Plus0BehindATripwire", CountKind::headroom,
     {ram64, 0, 0, ram64 - in_use, 3512, 0, 0, true}, none, 13, 36180, 22420, Refusal::none, false},
    {"Shape64Plus64BehindATripwire", CountKind::headroom,
     {ram64, 65532, 0, ram64 - in_use + 65532, 3512, 0, 0, true},
     none, 33, 81232, 67472, Refusal::none, false},
    {"Shape64Plus32PlusZram32BehindATripwire", CountKind::headroom,
     {ram64, 65528, 32764, ram64 - in_use + 65528 - 32764 / 3, 3512, 0, 0, true},
     none, 30, 84300, 59619, Refusal::none, false},
    // The counts of the processes keep their margins: what they miss is
    // not the browser's burst alone.
    {"ResidentBehindATripwire", CountKind::resident, {ram64, 65532, 0, 0, 3512, 10700, in_use, true},
     none, 62, 51536, 40836, Refusal::none, false},
    // A small device: the rule's reserve cut to leave the browser 10 MiB,
    // and one where even the least the count reaches leaves it none.
    {"CutForTheBrowsersRoom", CountKind::headroom, {ram64, 0, 0, ram64 - 25000, 3512, 0, 0, false},
     none, 13, 36180, 11180, Refusal::none, true},
    {"NoRoomLeft", CountKind::headroom, {30000, 0, 0, 5000, 3512, 0, 0, false},
     none, 14, 15664, -9336, Refusal::no_room_left, false},
    // Figures past 2^32 KiB are figures like any other.
    {"LargeHost", CountKind::headroom,
     {24683772, 3000000000, 0, 24683772 - 2683772 + 3000000000ULL, 3512, 0, 0, false},
     none, 738457, 2268503804, 2265820032, Refusal::none, false},

    // The counts of the processes: kept in hand, what is in use at rest and
    // a margin, less the X server's count, which the room is taken beside.
    {"Resident64Plus64", CountKind::resident, {ram64, 65532, 0, 0, 3512, 10700, in_use, false},
     none, 62, 51536, 40836, Refusal::none, false},
    {"Size64Plus64", CountKind::size, {ram64, 65532, 0, 0, 0, 32100, in_use, false},
     none, 41, 73040, 40940, Refusal::none, false},
    {"ResidentCut64Plus0", CountKind::resident, {ram64, 0, 0, 0, 3512, 10700, in_use, false},
     none, 27, 21844, 11144, Refusal::none, true},
    {"Resident128", CountKind::resident, {ram128, 0, 0, 0, 5660, 10600, 14200, false},
     none, 39, 74468, 63868, Refusal::none, false},
    {"ResidentLargeHost", CountKind::resident, {24683772, 0, 0, 0, 3512, 230000, 2683772, false},
     none, 6430, 18099452, 17869452, Refusal::none, false},
    {"ResidentNoRoomLeft", CountKind::resident, {30000, 0, 0, 0, 3512, 19984, 25000, false},
     none, 26, 3376, -16608, Refusal::no_room_left, false},

    // Reserves given: taken as they are, when the watchdog takes them and
    // they leave the browser room; the least is above what the kernel
    // keeps (the program size has none).
    {"GivenTaken", CountKind::headroom, {ram64, 0, 0, ram64 - in_use, 3512, 0, 0, false},
     7, 7, 42324, 28564, Refusal::none, false},
    {"GivenTooLargeForALimit", CountKind::headroom, {ram64, 0, 0, ram64 - in_use, 3512, 0, 0, false},
     39, 39, 9556, -4204, Refusal::no_limit, false},
    {"GivenTooLargeForWhatIsLeft", CountKind::headroom, {ram64, 0, 0, ram64 - in_use, 3512, 0, 0, false},
     26, 26, 22868, 9108, Refusal::no_room, false},
    {"GivenTooLargeBesideTheX", CountKind::resident, {ram64, 0, 0, 0, 3512, 10700, in_use, false},
     28, 28, 20820, 10120, Refusal::no_room, false},
    {"GivenBelowWhatTheKernelKeeps", CountKind::headroom, {ram64, 0, 0, ram64 - in_use, 3512, 0, 0, false},
     3, 3, 46420, 32660, Refusal::below_least, false},
    {"GivenJustAboveWhatTheKernelKeeps", CountKind::resident,
     {ram64, 0, 0, 0, 3512, 10700, in_use, false}, 4, 4, 45396, 34696, Refusal::none, false},
    {"GivenZeroOnTheProgramSize", CountKind::size, {ram64, 0, 0, 0, 0, 32100, in_use, false},
     0, 0, 49492, 17392, Refusal::below_least, false},
};

class Rule : public testing::TestWithParam<Row> {};

TEST_P(Rule, SettlesTheReserveOrSaysWhyNot)
{
    const Row &row = GetParam();
    const Reserve r = settle(row.f, *count_of(row.count), row.given == none ? nullptr : &row.given);
    EXPECT_EQ(r.refusal, row.refusal);
    EXPECT_EQ(r.mib, row.mib);
    EXPECT_EQ(r.limit, row.limit);
    EXPECT_EQ(r.room, row.room);
    EXPECT_EQ(r.mib != r.rule_mib, row.cut) << "rule " << r.rule_mib << " MiB";
    EXPECT_EQ(r.limit, static_cast<std::int64_t>(row.f.ram + row.f.swap) -
                           static_cast<std::int64_t>(r.mib) * 1024);
}

INSTANTIATE_TEST_SUITE_P(Table, Rule, testing::ValuesIn(rows),
                         [](const testing::TestParamInfo<Row> &info) { return info.param.name; });

// Before a later start, a reserve settled before is judged on figures read
// again: swap gone, or memory taken, is a limit or a room it no longer
// leaves; what the kernel keeps is not asked again.
TEST(Refit, ASettledReserveOnFiguresReadAgain)
{
    const Figures with_swap{ram64, 65532, 0, ram64 - in_use + 65532, 3512, 0, 0, false};
    const Figures swap_gone{ram64, 0, 0, ram64 - in_use, 3512, 0, 0, false};
    const Count &headroom = *count_of(CountKind::headroom);
    EXPECT_EQ(refit(with_swap, headroom, 45).refusal, Refusal::none);
    EXPECT_EQ(refit(with_swap, headroom, 45).limit, 68944);
    EXPECT_EQ(refit(swap_gone, headroom, 45).refusal, Refusal::no_limit);
    EXPECT_EQ(refit(swap_gone, headroom, 26).refusal, Refusal::no_room);
    EXPECT_EQ(refit(swap_gone, headroom, 3).refusal, Refusal::none);
}

} // namespace
