#include "text/text_splitter.h"

#include <stdexcept>

namespace varnex {

TextSplitter::TextSplitter(const std::string &text, const std::string &delimiter) {
    size_t start = 0;
    for (;;) {
        const size_t at = delimiter.empty() ? std::string::npos : text.find(delimiter, start);
        tokens_.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return;
        start = at + delimiter.size();
    }
}

const std::string &TextSplitter::token(size_t index) const {
    if (index >= tokens_.size()) throw std::out_of_range("invalid vector<T> subscript");
    return tokens_[index];
}

}  // namespace varnex
