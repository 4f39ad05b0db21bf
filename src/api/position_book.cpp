#include "api/position_book.h"

namespace varnex {

std::optional<int32_t> PositionBook::find(const std::string &symbol) const {
    auto it = entries_.find(symbol);
    if (it == entries_.end()) return std::nullopt;
    return it->second;
}

void PositionBook::record(const std::string &symbol, int32_t quantity) { entries_[symbol] = quantity; }

}  // namespace varnex
