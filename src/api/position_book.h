// Each symbol's last reported quantity. Keys are compared byte for byte: abc
// and ABC are two symbols, the empty text is one too. Nothing walks the book
// in order, so it is hashed: a look-up costs the same at 100,000 symbols as
// at one, where a tree would chase a pointer per level.
#ifndef VARNEX_API_POSITION_BOOK_H
#define VARNEX_API_POSITION_BOOK_H

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

namespace varnex {

class PositionBook {
public:
    std::optional<int32_t> find(const std::string &symbol) const;
    void record(const std::string &symbol, int32_t quantity);
    // Records `quantity` and returns the quantity it replaced, in one look-up.
    std::optional<int32_t> exchange(const std::string &symbol, int32_t quantity);
    size_t size() const { return entries_.size(); }

private:
    std::unordered_map<std::string, int32_t> entries_;
};

}  // namespace varnex

#endif
