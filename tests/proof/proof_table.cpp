#include "proof/proof_table.h"

#include <gtest/gtest.h>

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

class PrintTable : public ::testing::Environment {
public:
    void TearDown() override {
        std::lock_guard<std::mutex> lock(tableMutex);
        size_t width = 8;
        for (const auto &row : table()) width = row.first.size() > width ? row.first.size() : width;
        std::printf("\nproof figures (%u scenarios)\n", static_cast<unsigned>(table().size()));
        for (const auto &row : table())
            std::printf("  %-*s  %s\n", static_cast<int>(width), row.first.c_str(), row.second.c_str());
        std::fflush(stdout);
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
