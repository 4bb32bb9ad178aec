// generator: writes a random cost-matrix file for the solver.
//
//   generator [--seed N] SIZE FILE_NAME
//
// The file holds SIZE on its first line, then SIZE rows of SIZE values, each
// value followed by one blank and each row by a newline: -1 on the diagonal
// (no loop), elsewhere a cost from 0 to 1000000 drawn with rand() in
// row-major order after srand(N), so that a seed always writes the same
// matrix; without --seed after srand(time(nullptr)), so two runs within the
// same second write the same matrix.
//
// Exit status 1 with a message on standard output for a bad command line
// (SIZE must be digits only and fit a signed 32-bit integer, N digits only
// from 0 to 4294967295), a file that cannot be created, or a write that fails
// (a full disk); 0 otherwise.

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <regex>
#include <string>

namespace {

int printUsage(const char* programName) {
    const std::string program = programName != nullptr ? programName : "";
    std::cout << "Usage: " << program << " SIZE FILE_NAME\n"
              << "       " << program << " --seed N SIZE FILE_NAME\n"
              << "Writes a random cost matrix of SIZE cities to FILE_NAME. The same seed N\n"
              << "(0 to 4294967295) always writes the same matrix; without one the clock\n"
              << "seeds it.\n";
    return 1;
}

// Whether `text` is digits only and at most `largest`. atoi has no defined
// result past the int range, so a number is checked before it is converted.
bool isNumberUpTo(const char* text, unsigned long largest) {
    if (!std::regex_match(text, std::regex("[0-9]+", std::regex::ECMAScript))) {
        return false;
    }
    const std::string digits = text;
    const std::size_t firstSignificant = digits.find_first_not_of('0');
    if (firstSignificant == std::string::npos) {
        return true;
    }
    const std::string significant = digits.substr(firstSignificant);
    const std::string limit = std::to_string(largest);
    return significant.size() < limit.size() ||
           (significant.size() == limit.size() && significant <= limit);
}

}  // namespace

int main(int argc, char* argv[]) {
    const bool seeded = argc == 5 && std::strcmp(argv[1], "--seed") == 0;
    const int sizeIndex = seeded ? 3 : 1;
    if ((argc != 3 && !seeded) || !isNumberUpTo(argv[sizeIndex], 2147483647) ||
        (seeded && !isNumberUpTo(argv[2], 4294967295))) {
        return printUsage(argc > 0 ? argv[0] : nullptr);
    }
    const int size = std::atoi(argv[sizeIndex]);
    std::srand(seeded ? static_cast<unsigned>(std::stoul(argv[2]))
                      : static_cast<unsigned>(std::time(nullptr)));

    const char* fileName = argv[sizeIndex + 1];
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
