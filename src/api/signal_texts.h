// The texts built from one signal: log lines and the three relay messages.
#ifndef VARNEX_API_SIGNAL_TEXTS_H
#define VARNEX_API_SIGNAL_TEXTS_H

#include <cstdint>
#include <optional>
#include <string>

namespace varnex {

// symbol + ": " + quantity + "," + price
std::string signalLogText(const std::string &symbol, const std::string &quantityText,
                          const std::string &priceText);
// symbol + "," + quantity + "," + price
std::string pipeMessage(const std::string &symbol, const std::string &quantityText,
                        const std::string &priceText);
// "Order" + "," + quantity + "," + price
std::string tcpMessage(const std::string &quantityText, const std::string &priceText);
// quantity + " " + price
std::string signalText(const std::string &quantityText, const std::string &priceText);
// symbol + " qty=\t" + quantity, then " preQty=\t" + previous when there was one
std::string positionLogText(const std::string &symbol, int32_t quantity, std::optional<int32_t> previous);

// Why a relay was skipped while the library delivers an earlier position
// of the same symbol to the same destination.
constexpr const char *kEarlierPositionBeingDelivered =
    "an earlier position is being delivered, this one follows";

// symbol + ": " + quantity + "," + price + " still owed to " + destination + " at unload"
std::string stillOwedText(const std::string &symbol, const std::string &quantityText,
                          const std::string &priceText, const std::string &destination);

// "signal file PATH not written: " + why (the same for the debug file).
std::string fileNotWrittenText(const char *destination, const std::string &path, const std::string &why);

}  // namespace varnex

#endif
