// The proof suite's figures: every scenario records what it tried and what it
// counted, and the whole table is printed once at the end of the run, so the
// numbers can be quoted as they stand.
#ifndef VARNEX_TESTS_PROOF_TABLE_H
#define VARNEX_TESTS_PROOF_TABLE_H

#include <string>

namespace varnex_test {

// One row: the scenario's name and its figures, for example
// recordFigures("pipe burst", "10000 sent, 10000 received, 0 out of order").
void recordFigures(const std::string &scenario, const std::string &figures);

}  // namespace varnex_test

#endif
