// Problems made from matrices and files: every off-diagonal cell an arc of its
// cost unless a mask or the sentinel leaves it out, 64-bit values checked and
// never truncated, and every wrong input an atsp::Error of the right kind.
#include <atsp/atsp.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/support/RunProgram.h"

namespace atsp {

namespace {

using testing_support::ScratchFolder;

constexpr std::int64_t int32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t int32Min = std::numeric_limits<std::int32_t>::min();

// Calls `make` and returns the kind and message of the Error it throws.
template <typename Make>
std::pair<ErrorKind, std::string> errorOf(Make make) {
    try {
        make();
    } catch (const Error& error) {
        return {error.kind(), error.what()};
    }
    ADD_FAILURE() << "no atsp::Error was thrown";
    return {ErrorKind::BadInput, ""};
}

std::vector<std::int32_t> randomCells(std::mt19937& random, std::size_t n) {
    std::uniform_int_distribution<std::int32_t> cost(-1000, 1000);
    std::vector<std::int32_t> cells(n * n);
    for (std::int32_t& cell : cells) {
        cell = cost(random);
    }
    return cells;
}

TEST(Problem, EveryOffDiagonalCellIsAnArcOfItsCost) {
    std::mt19937 random(1);
    const std::size_t n = 7;
    const std::vector<std::int32_t> cells = randomCells(random, n);
    const Problem problem = Problem::fromMatrix(n, cells);
    EXPECT_EQ(problem.cityCount(), n);
    EXPECT_EQ(problem.arcCount(), n * (n - 1));
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            if (i == j) {
                EXPECT_FALSE(problem.arcCost(i, j).has_value());
            } else {
                EXPECT_EQ(problem.arcCost(i, j), cells[i * n + j]) << i << " -> " << j;
            }
        }
    }
}

TEST(Problem, SixtyFourBitCellsInRangeGiveTheSameProblem) {
    std::mt19937 random(2);
    const std::size_t n = 6;
    std::vector<std::int32_t> narrow = randomCells(random, n);
    narrow[1] = std::numeric_limits<std::int32_t>::max();
    narrow[2] = std::numeric_limits<std::int32_t>::min();
    std::vector<std::int64_t> wide(narrow.begin(), narrow.end());
    // The diagonal is ignored, even beyond 32 bits.
    wide[0] = std::numeric_limits<std::int64_t>::max();

    std::vector<std::int32_t> fromNarrow(n * n);
    std::vector<std::int32_t> fromWide(n * n);
    Problem::fromMatrix(n, narrow).copyCostMatrix(fromNarrow, -7);
    Problem::fromMatrix(n, wide).copyCostMatrix(fromWide, -7);
    EXPECT_EQ(fromNarrow, fromWide);
    EXPECT_EQ(fromWide[0], -7);
    EXPECT_EQ(fromWide[1], int32Max);
    EXPECT_EQ(fromWide[2], int32Min);
}

TEST(Problem, SixtyFourBitCellsOutOfRangeAreRejectedNotTruncated) {
    const std::size_t n = 3;
    for (const std::int64_t value : {int32Max + 1, int32Min - 1, std::int64_t{1} << 32}) {
        std::vector<std::int64_t> cells(n * n, 5);
        cells[1 * n + 2] = value;
        const auto [kind, message] = errorOf([&] { Problem::fromMatrix(n, cells); });
        EXPECT_EQ(kind, ErrorKind::BadInput);
        EXPECT_EQ(message, "the cost at row 1, column 2, " + std::to_string(value) +
                               ", lies outside the signed 32-bit range");
        // The same through the masked path.
        std::vector<std::uint8_t> mask(n * n, 0);
        mask[0 * n + 1] = 1;
        EXPECT_EQ(errorOf([&] {
                      Problem::fromMatrix(n, cells, {mask, std::nullopt});
                  }).first,
                  ErrorKind::BadInput);
    }
}

TEST(Problem, MaskAndSentinelLeaveArcsOut) {
    std::mt19937 random(3);
    const std::size_t n = 8;
    std::vector<std::int32_t> cells = randomCells(random, n);
    std::vector<std::uint8_t> mask(n * n, 0);
    std::bernoulli_distribution forbid(0.3);
    std::size_t forbidden = 0;
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            if (forbid(random)) {
                mask[i * n + j] = 2;  // any nonzero byte
                forbidden += i != j ? 1 : 0;
            }
        }
    }
    const Problem masked = Problem::fromMatrix(n, cells, {mask, std::nullopt});
    EXPECT_EQ(masked.arcCount(), n * (n - 1) - forbidden);

    // The sentinel in the same cells gives the same problem.
    std::vector<std::int64_t> sentinelled(cells.begin(), cells.end());
    for (std::size_t cell = 0; cell < n * n; ++cell) {
        if (mask[cell] != 0) {
            sentinelled[cell] = std::numeric_limits<std::int64_t>::max();
        }
    }
    const Problem bySentinel =
        Problem::fromMatrix(n, sentinelled, {{}, std::numeric_limits<std::int64_t>::max()});
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            const std::optional<std::int32_t> expected =
                i == j || mask[i * n + j] != 0 ? std::nullopt
                                               : std::optional<std::int32_t>(cells[i * n + j]);
            EXPECT_EQ(masked.arcCost(i, j), expected) << i << " -> " << j;
            EXPECT_EQ(bySentinel.arcCost(i, j), expected) << i << " -> " << j;
        }
    }
}

TEST(Problem, SentinelInThirtyTwoBitsTakesOnlyEqualCells) {
    const std::vector<std::int32_t> cells = {0, -1, 4, -1, 0, 6, 7, 8, 0};
    const Problem problem = Problem::fromMatrix(3, cells, {{}, -1});
    EXPECT_EQ(problem.arcCount(), 4u);
    EXPECT_FALSE(problem.arcCost(0, 1).has_value());
    EXPECT_FALSE(problem.arcCost(1, 0).has_value());
    EXPECT_EQ(problem.arcCost(0, 2), 4);
    EXPECT_EQ(problem.arcCost(2, 1), 8);
}

TEST(Problem, WrongSizesAreBadInput) {
    const std::vector<std::int32_t> nine(9, 1);
    EXPECT_EQ(errorOf([&] { Problem::fromMatrix(4, nine); }).first, ErrorKind::BadInput);
    EXPECT_EQ(errorOf([&] { Problem::fromMatrix(2, nine); }).first, ErrorKind::BadInput);
    const std::vector<std::uint8_t> shortMask(8, 0);
    EXPECT_EQ(errorOf([&] {
                  Problem::fromMatrix(3, nine, {shortMask, std::nullopt});
              }).first,
              ErrorKind::BadInput);
    // A negative count converted to size_t, or just one too many.
    EXPECT_EQ(errorOf([&] { Problem::fromMatrix(static_cast<std::size_t>(-1), nine); }).first,
              ErrorKind::BadInput);
    EXPECT_EQ(errorOf([&] { Problem::fromMatrix(65536, nine); }).first, ErrorKind::BadInput);

    const Problem problem = Problem::fromMatrix(3, nine);
    std::vector<std::int32_t> eight(8);
    EXPECT_EQ(errorOf([&] { problem.copyCostMatrix(eight); }).first, ErrorKind::BadInput);
    EXPECT_EQ(errorOf([&] { problem.arcCost(0, 3); }).first, ErrorKind::BadInput);
}

TEST(Problem, ZeroCitiesIsAProblem) {
    EXPECT_EQ(Problem().cityCount(), 0u);
    EXPECT_EQ(Problem::fromMatrix(0, std::span<const std::int32_t>()).cityCount(), 0u);
}

TEST(Problem, FileGivesTheProblemOfItsMatrix) {
    const ScratchFolder folder;
    const std::string matrixFile =
        folder.write("three.txt", "3\n-1 10 1\n1 -1 10\n10 1 -1\n").string();
    const std::string tsplibFile =
        folder
            .write("three.atsp",
                   "NAME : three\nTYPE : ATSP\nDIMENSION : 3\nEDGE_WEIGHT_TYPE : EXPLICIT\n"
                   "EDGE_WEIGHT_FORMAT : FULL_MATRIX\nEDGE_WEIGHT_SECTION\n0 10 1\n1 0 10\n"
                   "10 1 0\nEOF\n")
            .string();
    const std::vector<std::int32_t> expected = {0, 10, 1, 1, 0, 10, 10, 1, 0};
    for (const std::string& file : {matrixFile, tsplibFile}) {
        std::vector<std::int32_t> read(9, -1);
        Problem::fromFile(file).copyCostMatrix(read);
        EXPECT_EQ(read, expected) << file;
    }
}

TEST(Problem, FileErrorsCarryTheProgramsMessages) {
    const ScratchFolder folder;
    const std::string missing = (folder.path() / "missing.txt").string();
    EXPECT_EQ(errorOf([&] { Problem::fromFile(missing); }),
              std::make_pair(ErrorKind::FileNotReadable, "Couldn't open file " + missing));

    const std::string bad = folder.write("bad.txt", "2\n0 1\n1 x\n").string();
    const auto [kind, message] = errorOf([&] { Problem::fromFile(bad); });
    EXPECT_EQ(kind, ErrorKind::MalformedFile);
    EXPECT_EQ(message.rfind("Malformed file " + bad + ": ", 0), 0u) << message;
    EXPECT_NE(message.find("row 1, column 1"), std::string::npos) << message;
}

}  // namespace

}  // namespace atsp
