#include "support/TestSupport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>

namespace ozm::test {

ScratchDir::ScratchDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "ozmtest-XXXXXX").string();
    if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    // Files made read-only by a test must not block the clean-up.
    for (auto& e : std::filesystem::recursive_directory_iterator(path_, ec)) {
        std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

bool RunInChildProcesses(int count, const std::function<bool(int index)>& body) {
    std::vector<pid_t> children;
    for (int i = 0; i < count; ++i) {
        const pid_t child = ::fork();
        if (child < 0) break;
        if (child == 0) ::_exit(body(i) ? 0 : 1);
        children.push_back(child);
    }
    bool ok = static_cast<int>(children.size()) == count;
    for (const pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    return ok;
}

std::filesystem::path DataFile(const std::string& name) {
    return std::filesystem::path(OZM_TEST_DATA) / name;
}

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

RgbImage ToRgb(const Bitmap& bitmap) {
    RgbImage img;
    img.width = bitmap.Width();
    img.height = bitmap.Height();
    img.rgb.reserve(static_cast<std::size_t>(img.width) * img.height * 3);
    for (int y = 0; y < img.height; ++y) {
        for (int x = 0; x < img.width; ++x) {
            const RgbQuad q = bitmap.PixelAt(x, y);
            img.rgb.push_back(q.red);
            img.rgb.push_back(q.green);
            img.rgb.push_back(q.blue);
        }
    }
    return img;
}

std::vector<std::uint8_t> EncodeToBytes(const std::function<bool(std::FILE*)>& encode) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::tmpfile(), std::fclose);
    if (!file || !encode(file.get()) || std::fflush(file.get()) != 0) return {};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::ftell(file.get())));
    std::rewind(file.get());
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return {};
    return bytes;
}

bool HaveTool(const std::string& name) {
    const std::string cmd = "command -v " + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

std::optional<RgbImage> DecodeWithSecondDecoder(const std::filesystem::path& file,
                                                std::string& why) {
    const std::string python =
        std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    if (!HaveTool(python)) {
        why = "python3 is not installed";
        return std::nullopt;
    }
    const std::string cmd = python + " '" + std::string(OZM_TEST_TOOLS) + "/decode_rgb.py' '" +
                            file.string() + "' 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(cmd.c_str(), "r"), ::pclose);
    if (!pipe) {
        why = "cannot start python3";
        return std::nullopt;
    }
    std::vector<std::uint8_t> out;
    std::uint8_t buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0;) {
        out.insert(out.end(), buf, buf + n);
    }
    const std::string text(out.begin(), out.end());
    if (text.rfind("NOPIL", 0) == 0) {
        why = "Pillow (python3-pil) is not installed";
        return std::nullopt;
    }
    RgbImage img;
    const std::size_t newline = text.find('\n');
    const long consumed = newline == std::string::npos ? 0 : static_cast<long>(newline) + 1;
    if (consumed == 0 ||
        std::sscanf(text.substr(0, newline).c_str(), "RGB %d %d", &img.width, &img.height) != 2) {
        why = "second decoder refused the file: " + text.substr(0, 200);
        return std::nullopt;
    }
    img.rgb.assign(out.begin() + consumed, out.end());
    if (img.rgb.size() != static_cast<std::size_t>(img.width) * img.height * 3) {
        why = "second decoder gave a short image";
        return std::nullopt;
    }
    return img;
}

long CountDifferences(const RgbImage& a, const RgbImage& b, int tolerance) {
    if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return -1;
    long n = 0;
    for (std::size_t i = 0; i < a.rgb.size(); ++i) {
        if (std::abs(int(a.rgb[i]) - int(b.rgb[i])) > tolerance) ++n;
    }
    return n;
}

Bitmap MakePatternBitmap(int width, int height, int bitCount, unsigned seed) {
    Bitmap bmp;
    if (!bmp.Create(width, height, bitCount)) return bmp;
    std::mt19937 rng(seed);
    if (bmp.HasPalette()) {
        for (std::size_t i = 0; i < bmp.Palette().size(); ++i) {
            bmp.Palette()[i] =
                RgbQuad{static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                        static_cast<std::uint8_t>(i), 0};
        }
    }
    const std::size_t used = (static_cast<std::size_t>(width) * bitCount + 7) / 8;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = bmp.Row(y);
        for (std::size_t i = 0; i < used; ++i) row[i] = static_cast<std::uint8_t>(rng());
        if (bitCount == 16) {
            for (int x = 0; x < width; ++x) row[2 * x + 1] &= 0x7F;  // bit 15 unused
        }
        if (bitCount == 32) {
            for (int x = 0; x < width; ++x) row[4 * x + 3] = 0;
        }
    }
    return bmp;
}

}  // namespace ozm::test

namespace ozm::test {

std::vector<std::filesystem::path> DataFiles(const std::string& folder, const std::string& ext) {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(DataFile(folder))) {
        if (e.path().extension() == ext) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace ozm::test
