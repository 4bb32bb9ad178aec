// Opening and reading the files the solver reads: problems and tours.
#pragma once

#include <fstream>
#include <string>

namespace atsp {

// Opened for reading in binary mode; false for a file that cannot be opened
// and for a directory, which opens but whose reading fails.
bool openForReading(const std::string& fileName, std::ifstream& file);

// Reads the whole file into `text`. False when it cannot be opened or read
// (a missing or unreadable file, a directory).
bool readFileText(const std::string& fileName, std::string& text);

}  // namespace atsp
