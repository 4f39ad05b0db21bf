#include "proof/proof_table.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

namespace varnex_test {

namespace {

std::mutex tableMutex;
std::vector<std::pair<std::string, std::string>> &table() {
    static std::vector<std::pair<std::string, std::string>> rows;
    return rows;
}

// Beside the program, so the test script can show the table even when the
// test runner keeps a passing program's output to itself.
std::string tablePath() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string program(path, length);
    return program.substr(0, program.find_last_of('\\') + 1) + "proof_figures.txt";
}

class PrintTable : public ::testing::Environment {
public:
    void TearDown() override {
        std::lock_guard<std::mutex> lock(tableMutex);
        size_t width = 8;
        for (const auto &row : table()) width = row.first.size() > width ? row.first.size() : width;
        std::string text = "proof figures (" + std::to_string(table().size()) + " scenarios)\n";
        for (const auto &row : table())
            text += "  " + row.first + std::string(width - row.first.size(), ' ') + "  " + row.second + "\n";
        std::printf("\n%s", text.c_str());
        std::fflush(stdout);
        if (std::FILE *file = std::fopen(tablePath().c_str(), "wb")) {
            std::fputs(text.c_str(), file);
            std::fclose(file);
        }
    }
};

// Registered before main runs, so the table prints after the last test.
const bool registered = (::testing::AddGlobalTestEnvironment(new PrintTable), true);

}  // namespace

void recordFigures(const std::string &scenario, const std::string &figures) {
    std::lock_guard<std::mutex> lock(tableMutex);
    table().emplace_back(scenario, figures);
    std::printf("[ figures  ] %s: %s\n", scenario.c_str(), figures.c_str());
    std::fflush(stdout);
}

}  // namespace varnex_test
