#include "api/position_book.h"

namespace varnex {

std::optional<int32_t> PositionBook::find(const std::string &symbol) const {
    auto it = entries_.find(symbol);
    if (it == entries_.end()) return std::nullopt;
    return it->second;
}

void PositionBook::record(const std::string &symbol, int32_t quantity) { entries_[symbol] = quantity; }

std::optional<int32_t> PositionBook::exchange(const std::string &symbol, int32_t quantity) {
    const auto [entry, added] = entries_.try_emplace(symbol, quantity);
    if (added) return std::nullopt;
    const int32_t previous = entry->second;
    entry->second = quantity;
    return previous;
}

}  // namespace varnex
