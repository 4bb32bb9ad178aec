// generator: writes a random cost-matrix file for the solver.
//
//   generator SIZE FILE_NAME
//
// The file holds SIZE on its first line, then SIZE rows of SIZE values, each
// value followed by one blank and each row by a newline: -1 on the diagonal
// (no loop), elsewhere a cost from 0 to 1000000 drawn with rand() in
// row-major order after srand(time(nullptr)), so two runs within the same
// second write the same matrix.
//
// Exit status 1 with a message on standard output for a bad command line
// (SIZE must be digits only and fit a signed 32-bit integer), a file that
// cannot be created, or a write that fails (a full disk); 0 otherwise.

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <regex>
#include <string>

namespace {

int printUsage(const char* programName) {
    std::cout << "Usage: " << (programName != nullptr ? programName : "") << " SIZE FILE_NAME\n";
    return 1;
}

// `digits` matches [0-9]+. atoi has no defined result past the int range, so
// such a SIZE is refused before it is converted.
bool fitsInt(const std::string& digits) {
    const std::size_t firstSignificant = digits.find_first_not_of('0');
    if (firstSignificant == std::string::npos) {
        return true;
    }
    const std::string significant = digits.substr(firstSignificant);
    const std::string intMax = std::to_string(2147483647);
    return significant.size() < intMax.size() ||
           (significant.size() == intMax.size() && significant <= intMax);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 3 || !std::regex_match(argv[1], std::regex("[0-9]+", std::regex::ECMAScript)) ||
        !fitsInt(argv[1])) {
        return printUsage(argc > 0 ? argv[0] : nullptr);
    }
    const int size = std::atoi(argv[1]);
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    const char* fileName = argv[2];
    std::ofstream file(fileName, std::ios::out | std::ios::trunc);
    if (!file.is_open()) {
        std::cout << "Couldn't create file " << fileName << "\n";
        return 1;
    }
    file << size << "\n";
    for (int i = 0; i < size; ++i) {
        for (int j = 0; j < size; ++j) {
            if (j == i) {
                file << "-1 ";
            } else {
                file << std::rand() % 1000001 << " ";
            }
        }
        file << "\n";
    }
    file.close();
    if (file.fail()) {
        std::cout << "Couldn't write file " << fileName << "\n";
        return 1;
    }
    return 0;
}
