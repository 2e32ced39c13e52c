#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace core {

// The number at the start of the text, sign and "." included. Blanks, tabs
// and line feeds are skipped wherever they stand; any other character ends
// the number. No number at all gives 0. Never fails.
//
// Bytes are read as the single-byte code page: every byte above 0x7F is a
// character that ends the number, as its UTF-16 form does, so a record file
// gives the same value whether it is read as bytes or as decoded text.
double leadingValue(std::string_view bytes);
double leadingValue(std::u16string_view text);

// The whole text as a number written plainly, as the game and its helper
// write them: decimal digits alone, no leading zero, at most maxDigits
// (up to 18) and at most limit. Anything else gives nothing.
std::optional<std::uint64_t> plainNumber(std::string_view text, std::size_t maxDigits, std::uint64_t limit);

} // namespace core
