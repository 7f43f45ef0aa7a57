#pragma once
// Text in other character sets: one iconv conversion wrapper, the code pages of the 8-bit text
// in metafiles (named by a font's character set), and UTF-16 to UTF-8.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ozm {

// An open iconv conversion between two character sets named as iconv names them ("GBK",
// "UTF-8", "UTF-32LE"). Converting starts from the initial shift state every time.
class TextConverter {
  public:
    TextConverter(const char* to, const char* from);
    ~TextConverter();
    TextConverter(const TextConverter&) = delete;
    TextConverter& operator=(const TextConverter&) = delete;

    // False when the system has no conversion between the two sets.
    bool Ok() const;
    // The whole of `bytes` converted; nullopt when they are not complete, valid text in the
    // source set or the converter is not Ok.
    std::optional<std::string> Convert(std::string_view bytes);

  private:
    void* cd_;  // iconv_t
};

// One character of 8-bit text: its code point and how many bytes it took.
struct AnsiChar {
    std::uint32_t codePoint = 0;
    std::uint8_t bytes = 1;
};
// Decodes 8-bit text in the code page of a font's character set (Windows-1252 for the
// western set and unknown sets; double-byte pages for the East Asian sets; the symbol set's
// bytes are its glyph codes). Bytes that are no character of the page become U+FFFD.
std::vector<AnsiChar> DecodeAnsiText(std::span<const std::uint8_t> text, std::uint8_t charSet);

// UTF-16LE code units to UTF-8 (unpaired surrogates become U+FFFD).
std::string Utf16ToUtf8(std::span<const std::uint16_t> units);

}  // namespace ozm
