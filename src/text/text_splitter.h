// Splits a text at every occurrence of a delimiter. Empty tokens are kept, so
// N delimiters always give N+1 tokens.
#ifndef VARNEX_TEXT_TEXT_SPLITTER_H
#define VARNEX_TEXT_TEXT_SPLITTER_H

#include <string>
#include <vector>

namespace varnex {

class TextSplitter {
public:
    // The delimiter must not be empty.
    TextSplitter(const std::string &text, const std::string &delimiter);
    size_t count() const { return tokens_.size(); }
    // Throws std::out_of_range("invalid vector<T> subscript") past the last token.
    const std::string &token(size_t index) const;

private:
    std::vector<std::string> tokens_;
};

}  // namespace varnex

#endif
