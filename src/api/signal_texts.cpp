#include "api/signal_texts.h"

#include "text/number_text.h"

namespace varnex {

std::string signalLogText(const std::string &symbol, const std::string &quantityText,
                          const std::string &priceText) {
    return symbol + ": " + quantityText + "," + priceText;
}

std::string pipeMessage(const std::string &symbol, const std::string &quantityText,
                        const std::string &priceText) {
    return symbol + "," + quantityText + "," + priceText;
}

std::string tcpMessage(const std::string &quantityText, const std::string &priceText) {
    return "Order," + quantityText + "," + priceText;
}

std::string signalText(const std::string &quantityText, const std::string &priceText) {
    return quantityText + " " + priceText;
}

std::string positionLogText(const std::string &symbol, int32_t quantity, std::optional<int32_t> previous) {
    std::string text = symbol + " qty=\t" + toText(quantity);
    if (previous) text += " preQty=\t" + toText(*previous);
    return text;
}

std::string fileNotWrittenText(const char *destination, const std::string &path, const std::string &why) {
    return std::string(destination) + " " + path + " not written: " + why;
}

std::string stillOwedText(const std::string &symbol, const std::string &quantityText,
                          const std::string &priceText, const std::string &destination) {
    return symbol + ": " + quantityText + "," + priceText + " still owed to " + destination + " at unload";
}

}  // namespace varnex
