// Tour files through the public interface: what is written reads back as
// the same tour, and each failure is the Error of its kind with the
// program's message.
#include <atsp/atsp.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/RunProgram.h"

namespace atsp {

namespace {

using testing_support::readWholeFile;
using testing_support::ScratchFolder;

template <typename Call>
std::pair<ErrorKind, std::string> errorOf(Call call) {
    try {
        call();
    } catch (const Error& error) {
        return {error.kind(), error.what()};
    }
    ADD_FAILURE() << "no atsp::Error was thrown";
    return {ErrorKind::BadInput, ""};
}

TEST(TourFiles, AWrittenTourReadsBackFromCityZero) {
    const ScratchFolder folder;
    const std::string file = (folder.path() / "five.tour").string();
    writeTourFile(file, {3, 1, 0, 4, 2}, "Cost 12, proven optimal");
    const std::string text = readWholeFile(file);
    EXPECT_EQ(text.rfind("NAME : five.tour\nCOMMENT : Cost 12, proven optimal\nTYPE : TOUR\n", 0),
              0u)
        << text;
    EXPECT_EQ(readTourFile(file, 5), (std::vector<int>{0, 4, 2, 3, 1}));
}

TEST(TourFiles, FailuresAreErrorsOfTheirKind) {
    const ScratchFolder folder;
    const std::string missing = (folder.path() / "missing.tour").string();
    EXPECT_EQ(errorOf([&] { readTourFile(missing, 3); }),
              std::make_pair(ErrorKind::FileNotReadable, "Couldn't open tour file " + missing));

    const std::string twice = folder.write("twice.tour", "TOUR_SECTION\n1\n2\n2\n-1\n").string();
    const auto [kind, message] = errorOf([&] { readTourFile(twice, 3); });
    EXPECT_EQ(kind, ErrorKind::MalformedFile);
    EXPECT_EQ(message.rfind("Malformed tour file " + twice + ": ", 0), 0u) << message;

    const std::string unwritable = (folder.path() / "no-such-folder" / "x.tour").string();
    EXPECT_EQ(errorOf([&] {
                  writeTourFile(unwritable, {0, 1}, "");
              }),
              std::make_pair(ErrorKind::FileNotWritable, "Couldn't write tour file " + unwritable));

    EXPECT_EQ(errorOf([&] { writeTourFile(missing, {0, 0, 1}, ""); }).first, ErrorKind::BadInput);
}

}  // namespace

}  // namespace atsp
