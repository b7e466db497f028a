#pragma once

// Whole files and folder listings, for tests that check what landed on disk.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <system_error>

namespace zorvik::test {

// The file's bytes; empty when it cannot be read.
inline std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const std::filesystem::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// The names directly in `folder`. Throws when the folder cannot be listed, so a test that
// expects it there fails loudly.
inline std::set<std::string> names_in(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// As above, but a folder that cannot be listed gives what was read of it (nothing, usually).
inline std::set<std::string> names_in(const std::filesystem::path& folder, std::error_code& error) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

} // namespace zorvik::test
