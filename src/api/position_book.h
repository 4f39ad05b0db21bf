// Each symbol's last reported quantity. Keys are compared byte for byte: abc
// and ABC are two symbols, the empty text is one too.
#ifndef VARNEX_API_POSITION_BOOK_H
#define VARNEX_API_POSITION_BOOK_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace varnex {

class PositionBook {
public:
    std::optional<int32_t> find(const std::string &symbol) const;
    void record(const std::string &symbol, int32_t quantity);
    size_t size() const { return entries_.size(); }

private:
    std::map<std::string, int32_t> entries_;
};

}  // namespace varnex

#endif
