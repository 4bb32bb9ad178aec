#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "api/ProblemData.h"
#include "io/TextFile.h"
#include "io/TourFile.h"

namespace atsp {

std::vector<int> readTourFile(const std::string& fileName, std::size_t cityCount) {
    if (cityCount > NoNode) {
        throw Error(ErrorKind::BadInput, "a tour has at most " + std::to_string(NoNode) +
                                             " cities, not " + std::to_string(cityCount));
    }
    std::string text;
    if (!readFileText(fileName, text)) {
        throw Error(ErrorKind::FileNotReadable, "Couldn't open tour file " + fileName);
    }
    const TourReadResult read = parseTsplibTour(text, cityCount);
    if (!read.error.empty()) {
        throw Error(ErrorKind::MalformedFile,
                    "Malformed tour file " + fileName + ": " + read.error);
    }
    return visitingOrderOfSuccessors(read.tour);
}

void writeTourFile(const std::string& fileName, const std::vector<int>& tour,
                   const std::string& comment) {
    const std::vector<Node> successors = successorsOfVisitingOrder(tour, tour.size(), "the tour");
    const std::string name = std::filesystem::path(fileName).filename().string();
    std::ofstream file(fileName, std::ios::out | std::ios::binary | std::ios::trunc);
    file << tsplibTourText(name, comment, successors);
    file.close();
    if (file.fail()) {
        throw Error(ErrorKind::FileNotWritable, "Couldn't write tour file " + fileName);
    }
}

}  // namespace atsp
