#pragma once
// Progressive JPEG files whose every coefficient is 0 (a flat mid-grey picture), written bit by
// bit. The entropy-coded data of such a scan is tiny however big the picture: one bit per block
// for DC, and for AC one end-of-band run per 32767 blocks. A file of a few hundred KB can so
// ask a decoder to visit billions of blocks, or to keep coefficients for a huge picture. Used
// by the JPEG tests and by the hostile-input benchmark.

#include <cstdint>
#include <vector>

namespace ozm::test {

struct JpegScan {
    int firstComponent = 0;  // the scan covers components first .. first + count - 1
    int componentCount = 1;
    int ss = 0, se = 0, ah = 0, al = 0;
};

class FlatJpegWriter {
  public:
    std::vector<std::uint8_t> Write(int width, int height, int components,
                                    const std::vector<JpegScan>& scans) {
        bytes_.clear();
        Marker(0xD8);
        // One quantisation table of ones.
        Segment(0xDB, 65);
        bytes_.push_back(0);
        for (int i = 0; i < 64; ++i) bytes_.push_back(1);
        // SOF2: progressive, 8 bits, every component sampled 1 x 1.
        Segment(0xC2, 6 + 3 * components);
        bytes_.push_back(8);
        Be16(height);
        Be16(width);
        bytes_.push_back(static_cast<std::uint8_t>(components));
        for (int c = 0; c < components; ++c) {
            bytes_.push_back(static_cast<std::uint8_t>(c + 1));
            bytes_.push_back(0x11);
            bytes_.push_back(0);
        }
        // DC table 0: category 0 (difference 0) is the one-bit code 0. AC table 0: the 15
        // end-of-band run symbols EOB0..EOB14, four bits each.
        Segment(0xC4, 1 + 16 + 1 + 1 + 16 + 15);
        bytes_.push_back(0x00);
        bytes_.push_back(1);
        for (int i = 1; i < 16; ++i) bytes_.push_back(0);
        bytes_.push_back(0x00);
        bytes_.push_back(0x10);
        for (int i = 0; i < 16; ++i) bytes_.push_back(i == 3 ? 15 : 0);
        for (int r = 0; r < 15; ++r) bytes_.push_back(static_cast<std::uint8_t>(r << 4));

        const std::uint64_t blocks = std::uint64_t((width + 7) / 8) * ((height + 7) / 8);
        for (const JpegScan& s : scans) {
            Segment(0xDA, 1 + 2 * s.componentCount + 3);
            bytes_.push_back(static_cast<std::uint8_t>(s.componentCount));
            for (int c = 0; c < s.componentCount; ++c) {
                bytes_.push_back(static_cast<std::uint8_t>(s.firstComponent + c + 1));
                bytes_.push_back(0x00);
            }
            bytes_.push_back(static_cast<std::uint8_t>(s.ss));
            bytes_.push_back(static_cast<std::uint8_t>(s.se));
            bytes_.push_back(static_cast<std::uint8_t>((s.ah << 4) | s.al));
            if (s.ss == 0) {
                // DC: a first scan codes a zero difference, a refinement a zero bit; one bit
                // per block of every component either way.
                for (std::uint64_t i = 0; i < blocks * s.componentCount; ++i) Bits(0, 1);
            } else {
                // AC scans: end-of-band runs over every block. EOBn stands for 2^n + n bits.
                for (std::uint64_t left = blocks; left > 0;) {
                    const std::uint32_t run =
                        left > 32767 ? 32767 : static_cast<std::uint32_t>(left);
                    int n = 0;
                    while ((run >> (n + 1)) != 0) ++n;
                    Bits(static_cast<std::uint32_t>(n), 4);
                    if (n > 0) Bits(run - (1u << n), n);
                    left -= run;
                }
            }
            Flush();
        }
        Marker(0xD9);
        return std::move(bytes_);
    }

    // DC, then every AC coefficient on its own: a first scan at point transform `al`, then
    // `al` refinement scans. 1 + 63 * (al + 1) scans: 883 for al = 13.
    static std::vector<JpegScan> CoefficientByCoefficient(int al) {
        std::vector<JpegScan> scans{{0, 1, 0, 0, 0, 0}};
        for (int k = 1; k < 64; ++k) {
            scans.push_back({0, 1, k, k, 0, al});
            for (int a = al; a > 0; --a) scans.push_back({0, 1, k, k, a, a - 1});
        }
        return scans;
    }

    // What an ordinary encoder writes for one component: DC, two spectral bands, two
    // refinements.
    static std::vector<JpegScan> Ordinary() {
        return {{0, 1, 0, 0, 0, 0},
                {0, 1, 1, 5, 0, 2},
                {0, 1, 6, 63, 0, 2},
                {0, 1, 1, 63, 2, 1},
                {0, 1, 1, 63, 1, 0}};
    }

  private:
    void Marker(int code) {
        bytes_.push_back(0xFF);
        bytes_.push_back(static_cast<std::uint8_t>(code));
    }
    void Be16(int v) {
        bytes_.push_back(static_cast<std::uint8_t>(v >> 8));
        bytes_.push_back(static_cast<std::uint8_t>(v));
    }
    // A marker segment whose body is `bodyBytes` long (the length field not counted).
    void Segment(int code, int bodyBytes) {
        Marker(code);
        Be16(bodyBytes + 2);
    }
    void Bits(std::uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            acc_ = static_cast<std::uint8_t>((acc_ << 1) | ((value >> i) & 1));
            if (++filled_ == 8) Emit();
        }
    }
    void Emit() {
        bytes_.push_back(acc_);
        if (acc_ == 0xFF) bytes_.push_back(0);  // byte stuffing
        acc_ = 0;
        filled_ = 0;
    }
    // The last byte of a scan is padded with 1 bits.
    void Flush() {
        while (filled_ != 0) Bits(1, 1);
    }

    std::vector<std::uint8_t> bytes_;
    std::uint8_t acc_ = 0;
    int filled_ = 0;
};

}  // namespace ozm::test
