#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "stages/RLEs.h"

namespace {

// One value of the coded stream: a symbol or a run length.
struct Coded {
    bool isRun;
    std::uint32_t value;
};

Coded Sym(char c) { return {false, static_cast<std::uint8_t>(c)}; }
Coded RunOf(std::uint32_t n) { return {true, n}; }

// The callbacks carry no context, so the scripted stream lives here.
std::deque<Coded> g_script;
std::vector<std::string> g_pulls;
std::string g_output;

std::uint8_t ScriptedSymbol()
{
    if (g_script.empty() || g_script.front().isRun) {
        ADD_FAILURE() << "symbol pulled where the stream holds "
                      << (g_script.empty() ? "nothing" : "a run length");
        g_pulls.push_back("S?");
        return 0;
    }
    const auto v = static_cast<std::uint8_t>(g_script.front().value);
    g_script.pop_front();
    g_pulls.push_back(std::string("S") + static_cast<char>(v));
    return v;
}

std::uint32_t ScriptedRunLength()
{
    if (g_script.empty() || !g_script.front().isRun) {
        ADD_FAILURE() << "run length pulled where the stream holds "
                      << (g_script.empty() ? "nothing" : "a symbol");
        g_pulls.push_back("R?");
        return 0;
    }
    const std::uint32_t v = g_script.front().value;
    g_script.pop_front();
    g_pulls.push_back(std::string("R").append(std::to_string(v)));
    return v;
}

void RecordPut(std::uint8_t value) { g_output.push_back(static_cast<char>(value)); }

struct RunLengthFixture : ::testing::Test {
    TRLE* rle = nullptr;

    void SetUp() override
    {
        g_script.clear();
        g_pulls.clear();
        g_output.clear();
        rle = TRLE::Create(271);
        ASSERT_EQ(rle->Status, 0);
        for (auto& t : rle->Threshold)
            t = 3;
        rle->OnGetSymbol = ScriptedSymbol;
        rle->OnGetRunLength = ScriptedRunLength;
        rle->OnPut = RecordPut;
    }

    void TearDown() override
    {
        rle->Done();
        delete rle;
    }

    void Script(std::initializer_list<Coded> coded) { g_script.assign(coded); }
};

using RunLengthDecoder = RunLengthFixture;

std::vector<std::string> Pulls(std::initializer_list<const char*> items)
{
    return std::vector<std::string>(items.begin(), items.end());
}

} // namespace

// A largest run length and the construction status it gives.
struct MaxRunCase {
    std::uint32_t maxRun;
    std::uint8_t status;
};

class RunLengthConstruction : public ::testing::TestWithParam<MaxRunCase> {};

TEST_P(RunLengthConstruction, StatusFlagsAndDefaultsFollowTheMaxRun)
{
    const MaxRunCase c = GetParam();
    TRLE* rle = TRLE::Create(c.maxRun);
    EXPECT_EQ(rle->Status, c.status);
    EXPECT_EQ(rle->Flags, c.status == 0 ? 0 : 0x80);
    for (auto t : rle->Threshold)
        ASSERT_EQ(t, 0);
    // Either way the defaults are installed: threshold 0 puts one default
    // symbol 0 and a default run of 0 per byte, through the default OnPut.
    EXPECT_NE(rle->OnPut, nullptr);
    EXPECT_NE(rle->OnGetSymbol, nullptr);
    EXPECT_NE(rle->OnGetRunLength, nullptr);
    rle->Decode(3);
    EXPECT_EQ(rle->Status, 0);
    rle->Done();
    delete rle;
}

INSTANTIATE_TEST_SUITE_P(FromOneToTheLimit, RunLengthConstruction,
                         ::testing::Values(MaxRunCase{1, 0}, MaxRunCase{271, 0}, MaxRunCase{65535, 0},
                                           MaxRunCase{0xFFFFF, 0}));
INSTANTIATE_TEST_SUITE_P(ZeroOrTooLargeWith157, RunLengthConstruction,
                         ::testing::Values(MaxRunCase{0, TRLE::StatusBadMaxRun}, MaxRunCase{0x100000, 157},
                                           MaxRunCase{0xFFFFFFFF, 157}));

TEST(RunLengthDefaults, DefaultCallbacksYieldZeroSymbolsAndZeroRuns)
{
    g_output.clear();
    TRLE* rle = TRLE::Create(10);
    // Threshold 0 for every value: each default symbol 0 is followed by a default run of 0.
    rle->OnPut = RecordPut;
    rle->Decode(5);
    EXPECT_EQ(rle->Status, 0);
    EXPECT_EQ(g_output, std::string(5, '\0'));

    // The default OnPut swallows the bytes without harm.
    TRLE* quiet = TRLE::Create(10);
    quiet->Decode(7);
    EXPECT_EQ(quiet->Status, 0);
    quiet->Done();
    delete quiet;
    rle->Done();
    delete rle;
}

TEST_F(RunLengthDecoder, RunAfterFourEqualSymbolsThenPlainSymbols)
{
    Script({Sym('a'), Sym('a'), Sym('a'), Sym('a'), RunOf(2), Sym('b'), Sym('c'), Sym('d'), Sym('e')});
    rle->Decode(10);
    EXPECT_EQ(rle->Status, 0);
    EXPECT_EQ(g_output, "aaaaaabcde");
    EXPECT_EQ(g_pulls, Pulls({"Sa", "Sa", "Sa", "Sa", "R2", "Sb", "Sc", "Sd", "Se"}));
    EXPECT_TRUE(g_script.empty());
}

TEST_F(RunLengthDecoder, RunLengthIsPulledEvenWhenOutputIsAlreadyComplete)
{
    Script({Sym('a'), Sym('a'), Sym('a'), Sym('a'), RunOf(0)});
    rle->Decode(4);
    EXPECT_EQ(rle->Status, 0);
    EXPECT_EQ(g_output, "aaaa");
    EXPECT_EQ(g_pulls, Pulls({"Sa", "Sa", "Sa", "Sa", "R0"}));
}

TEST_F(RunLengthDecoder, CountStartsAfreshAfterARunLength)
{
    Script({Sym('a'), Sym('a'), Sym('a'), Sym('a'), RunOf(0), Sym('a'), Sym('a'), Sym('a'), Sym('a'), RunOf(0)});
    rle->Decode(8);
    EXPECT_EQ(g_output, "aaaaaaaa");
    EXPECT_EQ(g_pulls, Pulls({"Sa", "Sa", "Sa", "Sa", "R0", "Sa", "Sa", "Sa", "Sa", "R0"}));
    EXPECT_TRUE(g_script.empty());
}

TEST_F(RunLengthDecoder, DistinctSymbolsPullNoRunLength)
{
    Script({Sym('a'), Sym('b'), Sym('c')});
    rle->Decode(3);
    EXPECT_EQ(g_output, "abc");
    EXPECT_EQ(g_pulls, Pulls({"Sa", "Sb", "Sc"}));
}

TEST_F(RunLengthDecoder, CountOnePullsOneSymbolWithoutLookAhead)
{
    Script({Sym('q'), Sym('r')});
    rle->Decode(1);
    EXPECT_EQ(rle->Status, 0);
    EXPECT_EQ(g_output, "q");
    EXPECT_EQ(g_pulls, Pulls({"Sq"}));
}

TEST_F(RunLengthDecoder, CountZeroSets156AndCallsNothing)
{
    Script({Sym('a')});
    rle->Decode(0);
    EXPECT_EQ(rle->Status, TRLE::StatusNoCount);
    EXPECT_EQ(rle->Status, 156);
    EXPECT_TRUE(g_pulls.empty());
    EXPECT_TRUE(g_output.empty());

    // The next good call starts with Status 0 again.
    rle->Decode(1);
    EXPECT_EQ(rle->Status, 0);
    EXPECT_EQ(g_output, "a");
}

TEST_F(RunLengthDecoder, ThresholdZeroGivesEveryOccurrenceARunLength)
{
    rle->Threshold[static_cast<std::uint8_t>('x')] = 0;
    Script({Sym('x'), RunOf(2)});
    rle->Decode(3);
    EXPECT_EQ(g_output, "xxx");
    EXPECT_EQ(g_pulls, Pulls({"Sx", "R2"}));
}

TEST_F(RunLengthDecoder, ThresholdsArePerSymbolValue)
{
    rle->Threshold[static_cast<std::uint8_t>('b')] = 1;
    Script({Sym('a'), Sym('a'), Sym('b'), Sym('b'), RunOf(3), Sym('a'), Sym('a'), Sym('c')});
    rle->Decode(10);
    EXPECT_EQ(g_output, "aabbbbbaac");
    EXPECT_EQ(g_pulls, Pulls({"Sa", "Sa", "Sb", "Sb", "R3", "Sa", "Sa", "Sc"}));
}

TEST_F(RunLengthDecoder, SecondStageThresholdFortyEight)
{
    for (auto& t : rle->Threshold)
        t = 48;
    std::deque<Coded> coded;
    for (int i = 0; i < 49; ++i)
        coded.push_back(Sym('z'));
    coded.push_back(RunOf(300));
    coded.push_back(Sym('y'));
    g_script = coded;
    rle->Decode(49 + 300 + 1);
    EXPECT_EQ(rle->Status, 0);
    EXPECT_EQ(g_output, std::string(349, 'z') + "y");
    EXPECT_EQ(g_pulls.size(), 51u);
    EXPECT_EQ(g_pulls[49], "R300");
    EXPECT_TRUE(g_script.empty());
}

TEST_F(RunLengthDecoder, RunLengthsAboveMaxRunAreUsedAsDelivered)
{
    TRLE* small = TRLE::Create(2);
    for (auto& t : small->Threshold)
        t = 3;
    small->OnGetSymbol = ScriptedSymbol;
    small->OnGetRunLength = ScriptedRunLength;
    small->OnPut = RecordPut;
    Script({Sym('m'), Sym('m'), Sym('m'), Sym('m'), RunOf(10), Sym('n')});
    small->Decode(15);
    EXPECT_EQ(small->Status, 0);
    EXPECT_EQ(g_output, std::string(14, 'm') + "n");
    small->Done();
    delete small;
}

TEST_F(RunLengthDecoder, NothingCarriesOverBetweenDecodeCalls)
{
    // Two a's end the first call; three more in the second call make five in a
    // row across calls, but a fresh equal-count means no run length is pulled.
    Script({Sym('a'), Sym('a')});
    rle->Decode(2);
    EXPECT_EQ(g_pulls, Pulls({"Sa", "Sa"}));
    Script({Sym('a'), Sym('a'), Sym('a')});
    rle->Decode(3);
    EXPECT_EQ(g_output, "aaaaa");
    EXPECT_EQ(g_pulls, Pulls({"Sa", "Sa", "Sa", "Sa", "Sa"}));
    EXPECT_EQ(rle->Status, 0);
}

TEST_F(RunLengthDecoder, RunPastCountIsCutAndSets158)
{
    Script({Sym('a'), Sym('a'), Sym('a'), Sym('a'), RunOf(9), Sym('b')});
    rle->Decode(6);
    EXPECT_EQ(g_output, "aaaaaa");
    EXPECT_EQ(rle->Status, TRLE::StatusRunCut);
    EXPECT_EQ(rle->Status, 158);
    // No look-ahead symbol after the cut run.
    EXPECT_EQ(g_pulls, Pulls({"Sa", "Sa", "Sa", "Sa", "R9"}));

    // A following good call reports 0 again.
    Script({Sym('c')});
    g_output.clear();
    rle->Decode(1);
    EXPECT_EQ(rle->Status, 0);
    EXPECT_EQ(g_output, "c");
}

TEST_F(RunLengthDecoder, RunEndingExactlyAtCountIsNotCut)
{
    Script({Sym('a'), Sym('a'), Sym('a'), Sym('a'), RunOf(2)});
    rle->Decode(6);
    EXPECT_EQ(g_output, "aaaaaa");
    EXPECT_EQ(rle->Status, 0);
    EXPECT_EQ(g_pulls, Pulls({"Sa", "Sa", "Sa", "Sa", "R2"}));
}

TEST_F(RunLengthDecoder, HugeRunLengthNeverOverrunsCount)
{
    rle->Threshold[0] = 0;
    // A spare symbol, in case the look-ahead test wraps around; only the output matters here.
    Script({Sym('\0'), RunOf(0xFFFFFFFFu), Sym('\0')});
    rle->Decode(5);
    EXPECT_EQ(g_output, std::string(5, '\0'));
    EXPECT_EQ(rle->Status, TRLE::StatusRunCut);
}

namespace {

// The decoding rule written out plainly: one put per byte, a run cut at count.
std::string PlainRunLengthDecode(const std::vector<Coded>& coded, std::uint32_t count, unsigned threshold,
                                 std::size_t& used, bool& cut)
{
    std::string out;
    used = 0;
    cut = false;
    const auto next = [&] { return used < coded.size() ? coded[used++].value : 0u; };
    std::uint32_t equalRun = 0;
    auto cur = static_cast<std::uint8_t>(next());
    while (out.size() < count) {
        const std::uint8_t sym = cur;
        std::uint32_t extra = 0;
        if (equalRun == threshold) {
            extra = next();
            if (out.size() + extra + 1 < count)
                cur = static_cast<std::uint8_t>(next());
            equalRun = 0;
        } else {
            if (out.size() + 1 < count)
                cur = static_cast<std::uint8_t>(next());
            equalRun = cur == sym ? equalRun + 1 : 0;
        }
        for (std::uint32_t i = 0; i <= extra; ++i) {
            if (out.size() == count) {
                cut = true;
                break;
            }
            out.push_back(static_cast<char>(sym));
        }
    }
    return out;
}

} // namespace

TEST(RunLengthDecodeWith, WholeRunsGiveTheBytesOfThePlainRuleInOneStepOrMany)
{
    // Random streams of few symbol values, so that groups complete often;
    // long runs, and runs that pass the count at the end. Step 0 is one
    // DecodeWith; other steps are DecodeUpTo limits that runs cross.
    std::mt19937 rng(4711);
    TRLE* rle = TRLE::Create(65535);
    for (unsigned threshold : {0u, 3u, 48u}) {
        for (auto& t : rle->Threshold)
            t = static_cast<std::uint16_t>(threshold);
        for (int round = 0; round < 300; ++round) {
            const std::uint32_t count = 1 + rng() % 3000;
            // Whether a value is a symbol or a run length depends on where
            // the rule pulls it; mostly few symbol values, so that groups
            // complete often, and now and then a long run.
            std::vector<Coded> coded;
            for (int i = 0; i < 4000; ++i) {
                const unsigned kind = rng() % 16;
                coded.push_back(Coded{false, static_cast<std::uint32_t>(kind == 0 ? rng() % 65536 : kind == 1 ? rng() % 300 : rng() % 3)});
            }
            std::size_t used = 0;
            bool cut = false;
            const std::string expected = PlainRunLengthDecode(coded, count, threshold, used, cut);

            for (std::uint32_t step : {0u, 1u, 7u, 500u}) {
                std::size_t pulled = 0;
                std::string got;
                const auto pull = [&] { return pulled < coded.size() ? coded[pulled++].value : 0u; };
                const auto symbol = [&] { return static_cast<std::uint8_t>(pull()); };
                const auto put = [&](std::uint8_t sym, std::uint32_t copies) {
                    got.append(copies, static_cast<char>(sym));
                };
                TRLE::TProgress progress;
                if (step == 0) {
                    rle->DecodeWith(count, symbol, pull, put);
                } else if (rle->Begin(progress, count, symbol)) {
                    while (progress.Written < count) {
                        const std::uint32_t limit = std::min(count, progress.Written + step);
                        rle->DecodeUpTo(progress, count, limit, symbol, pull, put);
                        ASSERT_GE(progress.Written, limit);
                        ASSERT_EQ(got.size(), progress.Written);
                    }
                }
                const std::string where =
                    "threshold " + std::to_string(threshold) + " round " + std::to_string(round) + " step " +
                    std::to_string(step);
                ASSERT_EQ(got, expected) << where;
                ASSERT_EQ(pulled, used) << where;
                ASSERT_EQ(rle->Status, cut ? TRLE::StatusRunCut : 0) << where;
            }
        }
    }
    rle->Done();
    delete rle;
}

namespace {

// A byte buffer as the symbol source, counts as two bytes, low first; past
// the end symbols and counts read as 0 and the overrun is noted.
struct ByteSourceRun {
    std::string out;
    std::uint32_t in = 0;
    bool overrun = false;
    std::uint8_t status = 0;
};

// bulk: literal words, and from zeroFrom on (where src holds only zeros) the
// zero tail.
ByteSourceRun DecodeBytes(TRLE& rle, const std::vector<std::uint8_t>& src, std::uint32_t count, bool bulk,
                          std::uint32_t zeroFrom)
{
    ByteSourceRun run;
    std::vector<std::uint8_t> dst(count + 8);
    std::uint32_t out = 0;
    const auto size = static_cast<std::uint32_t>(src.size());
    const auto symbol = [&] {
        if (run.in >= size) {
            run.overrun = true;
            return std::uint8_t{0};
        }
        return src[run.in++];
    };
    const auto runLength = [&] {
        if (size - run.in < 2) {
            run.overrun = true;
            return 0u;
        }
        run.in += 2;
        return src[run.in - 2] + 256u * src[run.in - 1];
    };
    const auto put = [&](std::uint8_t value, std::uint32_t copies) {
        std::memset(dst.data() + out, value, copies);
        out += copies;
    };
    const std::uint32_t lowest = rle.LowestThreshold();
    if (bulk)
        rle.DecodeWith(count, symbol, runLength, put, [&](std::uint8_t& cur, std::uint32_t& equalRun, std::uint32_t left) {
            if (run.in > zeroFrom)
                return rle.TakeZeroTail(size, run.in, dst.data(), out, equalRun, left, 2, run.overrun);
            return TRLE::TakeLiteralWords(src.data(), size, run.in, dst.data(), out, cur, equalRun, left, lowest);
        });
    else
        rle.DecodeWith(count, symbol, runLength, put);
    run.out.assign(dst.begin(), dst.begin() + out);
    run.status = rle.Status;
    return run;
}

} // namespace

// Literal words copied in bulk, and a zero tail put at once, give what the
// rule gives one symbol at a time: the same bytes, source cursor, overrun and
// status, for thresholds around the word size, one symbol value with a lower
// threshold than the rest, sources with runs of every length, with and
// without a tail of zeros, and sources shorter than the count.
TEST(RunLengthBulkLiterals, MatchTheRuleSymbolBySymbol)
{
    std::mt19937 rng(1913);
    TRLE* rle = TRLE::Create(65535);
    for (unsigned threshold : {0u, 3u, 8u, 9u, 10u, 17u, 48u}) {
        for (int round = 0; round < 200; ++round) {
            for (auto& t : rle->Threshold)
                t = static_cast<std::uint16_t>(threshold);
            if (round % 4 == 1)
                rle->Threshold[rng() % 256] = static_cast<std::uint16_t>(rng() % (threshold + 1));
            std::vector<std::uint8_t> src;
            const std::size_t size = rng() % 2000;
            while (src.size() < size) {
                const auto value = static_cast<std::uint8_t>(round % 2 ? rng() % 3 : rng());
                src.insert(src.end(), rng() % 8 == 0 ? rng() % 70 : 1, value);
            }
            src.resize(size);
            auto zeroFrom = static_cast<std::uint32_t>(src.size());
            if (round % 3 != 0)
                src.resize(size + rng() % 3000, 0);
            const std::uint32_t count = 1 + rng() % 5000;
            const ByteSourceRun plain = DecodeBytes(*rle, src, count, false, zeroFrom);
            const ByteSourceRun bulk = DecodeBytes(*rle, src, count, true, zeroFrom);
            ASSERT_EQ(bulk.out, plain.out) << "threshold " << threshold << " round " << round;
            ASSERT_EQ(bulk.in, plain.in) << "threshold " << threshold << " round " << round;
            ASSERT_EQ(bulk.overrun, plain.overrun) << "threshold " << threshold << " round " << round;
            ASSERT_EQ(bulk.status, plain.status) << "threshold " << threshold << " round " << round;
        }
    }
    rle->Done();
    delete rle;
}
