#include "core/text/CodePages.h"

#include <iconv.h>

#include <cerrno>

#include "core/text/TextRules.h"

namespace ozm {

namespace {

const iconv_t kNoConversion = reinterpret_cast<iconv_t>(-1);

// Windows-1252 for the 0x80..0x9F range; the rest of the western page is Latin-1.
constexpr std::uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

const char* CodePageFor(std::uint8_t charSet) {
    switch (charSet) {
        case 128:
            return "SHIFT_JIS";
        case 129:
            return "CP949";
        case 134:
            return "GBK";
        case 136:
            return "BIG5";
        case 161:
            return "CP1253";
        case 162:
            return "CP1254";
        case 163:
            return "CP1258";
        case 177:
            return "CP1255";
        case 178:
            return "CP1256";
        case 186:
            return "CP1257";
        case 204:
            return "CP1251";
        case 222:
            return "CP874";
        case 238:
            return "CP1250";
        default:
            return nullptr;
    }
}

// Exactly `n` bytes as one character; nullopt when they are not one complete character.
std::optional<std::uint32_t> OneCharacter(TextConverter& toUtf32, const std::uint8_t* in,
                                          std::size_t n) {
    const auto out = toUtf32.Convert({reinterpret_cast<const char*>(in), n});
    if (!out || out->size() != 4) return std::nullopt;
    const auto byte = [&](int i) { return std::uint32_t{static_cast<std::uint8_t>((*out)[i])}; };
    return byte(0) | (byte(1) << 8) | (byte(2) << 16) | (byte(3) << 24);
}

}  // namespace

TextConverter::TextConverter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}

TextConverter::~TextConverter() {
    if (Ok()) iconv_close(static_cast<iconv_t>(cd_));
}

bool TextConverter::Ok() const { return static_cast<iconv_t>(cd_) != kNoConversion; }

std::optional<std::string> TextConverter::Convert(std::string_view bytes) {
    if (!Ok()) return std::nullopt;
    const auto cd = static_cast<iconv_t>(cd_);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    // Room for four bytes a byte is enough for every set this program converts (UTF-32 out
    // of single bytes); the output grows when a conversion needs more.
    std::string out(bytes.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    std::size_t written = 0;
    while (true) {
        char* dst = out.data() + written;
        std::size_t outLeft = out.size() - written;
        const std::size_t rc = iconv(cd, &in, &inLeft, &dst, &outLeft);
        written = out.size() - outLeft;
        if (rc != static_cast<std::size_t>(-1)) break;
        if (errno != E2BIG) return std::nullopt;
        out.resize(out.size() * 2);
    }
    if (inLeft != 0) return std::nullopt;
    out.resize(written);
    return out;
}

std::vector<AnsiChar> DecodeAnsiText(std::span<const std::uint8_t> text, std::uint8_t charSet) {
    std::vector<AnsiChar> out;
    out.reserve(text.size());
    const char* page = CodePageFor(charSet);
    std::optional<TextConverter> conv;
    if (page) {
        conv.emplace("UTF-32LE", page);
        if (!conv->Ok()) conv.reset();
    }
    for (std::size_t i = 0; i < text.size();) {
        const std::uint8_t c = text[i];
        if (conv && c >= 0x80) {
            AnsiChar ch{0xFFFD, 1};
            if (const auto one = OneCharacter(*conv, &text[i], 1)) {
                ch = {*one, 1};
            } else if (i + 1 < text.size()) {
                if (const auto two = OneCharacter(*conv, &text[i], 2)) ch = {*two, 2};
            }
            out.push_back(ch);
            i += ch.bytes;
            continue;
        }
        std::uint32_t cp = c;  // symbol fonts: the byte is the glyph's code
        if (charSet != 2 && c >= 0x80 && c < 0xA0) cp = kCp1252High[c - 0x80];
        out.push_back({cp, 1});
        ++i;
    }
    return out;
}

std::string Utf16ToUtf8(std::span<const std::uint16_t> units) {
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::uint32_t u = units[i];
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else {
            AppendUtf8(out, u);  // a lone surrogate becomes U+FFFD
        }
    }
    return out;
}

}  // namespace ozm
