// Metafiles made by other programs, played by ours and compared with the producing program's
// own rendering; and our written metafiles opened by those programs.

#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/formats/metafile/ozmEmfUnit.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;

Surface MakeSurface(cairo_surface_t* s) { return Surface(s, cairo_surface_destroy); }

// An image on white, as 24-bit pixels in a cairo surface.
Surface OnWhite(cairo_surface_t* image, int width, int height) {
    Surface out = MakeSurface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
    cairo_t* cr = cairo_create(out.get());
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    const double sx = double(width) / cairo_image_surface_get_width(image);
    const double sy = double(height) / cairo_image_surface_get_height(image);
    cairo_scale(cr, sx, sy);
    cairo_set_source_surface(cr, image, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(out.get());
    return out;
}

Surface FromBitmap(const Bitmap& bitmap) {
    Surface s = MakeSurface(
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, bitmap.Width(), bitmap.Height()));
    cairo_surface_flush(s.get());
    std::uint8_t* data = cairo_image_surface_get_data(s.get());
    const int stride = cairo_image_surface_get_stride(s.get());
    for (int y = 0; y < bitmap.Height(); ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(data + stride * y);
        for (int x = 0; x < bitmap.Width(); ++x) {
            const RgbQuad q = bitmap.PixelAt(x, y);
            row[x] = (std::uint32_t{q.red} << 16) | (std::uint32_t{q.green} << 8) | q.blue;
        }
    }
    cairo_surface_mark_dirty(s.get());
    return s;
}

std::uint32_t Pixel(cairo_surface_t* s, int x, int y) {
    const std::uint8_t* data = cairo_image_surface_get_data(s);
    return reinterpret_cast<const std::uint32_t*>(data + cairo_image_surface_get_stride(s) * y)[x];
}

struct Comparison {
    double meanDifference = 0;  // per channel, 0..255
    int missingLetters = 0;     // letter-sized areas with ink in the reference and none in ours
};

// Both images have the same size. A letter is about 12 pixels at 96 per inch; every such
// square (in steps of 6) where the reference has real ink but ours has less than a quarter
// of it counts as missing.
Comparison Compare(cairo_surface_t* reference, cairo_surface_t* ours) {
    const int w = cairo_image_surface_get_width(reference);
    const int h = cairo_image_surface_get_height(reference);
    Comparison c;
    std::vector<int> refInk(static_cast<std::size_t>(w) * h), ourInk(refInk.size());
    double total = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::uint32_t a = Pixel(reference, x, y), b = Pixel(ours, x, y);
            int ink = 0, ink2 = 0;
            for (int shift = 0; shift <= 16; shift += 8) {
                const int ca = (a >> shift) & 0xFF, cb = (b >> shift) & 0xFF;
                total += std::abs(ca - cb);
                ink = std::max(ink, 255 - ca);
                ink2 = std::max(ink2, 255 - cb);
            }
            refInk[static_cast<std::size_t>(y) * w + x] = ink;
            ourInk[static_cast<std::size_t>(y) * w + x] = ink2;
        }
    }
    c.meanDifference = total / (3.0 * w * h);
    constexpr int kLetter = 12;
    for (int y0 = 0; y0 + kLetter <= h; y0 += kLetter / 2) {
        for (int x0 = 0; x0 + kLetter <= w; x0 += kLetter / 2) {
            double r = 0, o = 0;
            for (int y = y0; y < y0 + kLetter; ++y) {
                for (int x = x0; x < x0 + kLetter; ++x) {
                    r += refInk[static_cast<std::size_t>(y) * w + x];
                    o += ourInk[static_cast<std::size_t>(y) * w + x];
                }
            }
            r /= kLetter * kLetter;
            o /= kLetter * kLetter;
            if (r >= 32 && o < r / 4) ++c.missingLetters;
        }
    }
    return c;
}

Surface LoadPng(const std::filesystem::path& path) {
    return MakeSurface(cairo_image_surface_create_from_png(path.c_str()));
}

TEST(MetafileRealFiles, MatchTheProducersRendering) {
    // Each metafile with the rendering it is compared with (see tests/data/README.md).
    const std::pair<const char*, const char*> files[] = {
        {"ink_shapes.emf", "ink_shapes.emf.png"},
        {"ink_shapes.wmf", "ink_shapes.wmf.png"},
        {"ink_gradient_photo.emf", "ink_gradient_photo.emf.png"},
        {"ink_gradient_photo.wmf", "ink_gradient_photo.wmf.png"},
        {"ink_chart.emf", "ink_chart.emf.png"},
        {"ink_chart.wmf", "ink_chart.wmf.png"},
        {"lo_shapes.emf", "lo_shapes.png"},
        {"lo_shapes.wmf", "lo_shapes.png"},
        {"lo_photo_gradient.emf", "lo_photo_gradient.png"},
        {"lo_photo_gradient.wmf", "lo_photo_gradient.png"},
        {"lo_ligatures.emf", "lo_ligatures.png"},
    };
    for (const auto& [name, referenceName] : files) {
        SCOPED_TRACE(name);
        const auto data = test::ReadAll(test::DataFile(std::string("metafile/") + name));
        ASSERT_FALSE(data.empty());
        Bitmap bitmap;
        ASSERT_TRUE(PlayMetafileIntoBitmap(data, bitmap));
        Surface loaded = LoadPng(test::DataFile(std::string("metafile/") + referenceName));
        ASSERT_EQ(cairo_surface_status(loaded.get()), CAIRO_STATUS_SUCCESS);
        const int w = cairo_image_surface_get_width(loaded.get());
        const int h = cairo_image_surface_get_height(loaded.get());
        Surface reference = OnWhite(loaded.get(), w, h);
        Surface ours = FromBitmap(bitmap);
        Surface scaled = OnWhite(ours.get(), w, h);
        const Comparison c = Compare(reference.get(), scaled.get());
        std::printf("%-24s %5dx%-5d mean difference %.2f, missing letters %d\n", name,
                    bitmap.Width(), bitmap.Height(), c.meanDifference, c.missingLetters);
        EXPECT_LE(c.meanDifference, 6.0);
        EXPECT_EQ(c.missingLetters, 0);
    }
}

// Runs a shell command; true when it exits with 0.
bool RunQuietly(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Crops a rendering to its non-white content (one program centres pictures on a page).
Surface CropToContent(cairo_surface_t* image) {
    const int w = cairo_image_surface_get_width(image);
    const int h = cairo_image_surface_get_height(image);
    int x0 = w, y0 = h, x1 = -1, y1 = -1;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if ((Pixel(image, x, y) & 0xFFFFFF) != 0xFFFFFF) {
                x0 = std::min(x0, x);
                y0 = std::min(y0, y);
                x1 = std::max(x1, x);
                y1 = std::max(y1, y);
            }
        }
    }
    if (x1 < x0) return MakeSurface(cairo_surface_reference(image));
    Surface out =
        MakeSurface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, x1 - x0 + 1, y1 - y0 + 1));
    cairo_t* cr = cairo_create(out.get());
    cairo_set_source_surface(cr, image, -x0, -y0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(out.get());
    return out;
}

// A picture without white in it, smooth enough that resampling by a pixel does not matter.
Bitmap SmoothPicture() {
    Bitmap b;
    b.Create(96, 64, 24);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 96; ++x) {
            std::uint8_t* p = b.Row(y) + 3 * x;
            p[0] = static_cast<std::uint8_t>(x * 2);
            p[1] = static_cast<std::uint8_t>(y * 3);
            p[2] = (x < 48) == (y < 32) ? 200 : 40;
        }
    }
    return b;
}

TEST(MetafileRealFiles, OurFilesOpenInOtherPrograms) {
    const bool inkscape = test::HaveTool("inkscape");
    const bool office = test::HaveTool("soffice");
    if (!inkscape && !office) GTEST_SKIP() << "neither inkscape nor soffice is installed";
    test::ScratchDir dir;
    const Bitmap picture = SmoothPicture();
    for (MetafileKind kind : {MetafileKind::Emf, MetafileKind::Wmf}) {
        const std::string name = kind == MetafileKind::Emf ? "pic.emf" : "pic.wmf";
        {
            std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(
                std::fopen((dir / name).c_str(), "wb"), std::fclose);
            ASSERT_TRUE(BuildMetafileFromBitmap(picture, f.get(), kind));
        }
        std::vector<std::pair<std::string, std::filesystem::path>> renderings;
        if (inkscape) {
            const auto png = dir / (name + ".ink.png");
            ASSERT_TRUE(RunQuietly("inkscape '" + (dir / name).string() + "' --export-type=png " +
                                   "--export-filename='" + png.string() + "'"));
            renderings.emplace_back("inkscape", png);
        }
        if (office) {
            const auto out = dir / "office";
            ASSERT_TRUE(RunQuietly("soffice -env:UserInstallation=file://" +
                                   (dir / "profile").string() +
                                   " --headless --convert-to png --outdir '" + out.string() +
                                   "' '" + (dir / name).string() + "'"));
            renderings.emplace_back("soffice", out / (name.substr(0, 3) + ".png"));
        }
        Surface expected = FromBitmap(picture);
        for (const auto& [program, png] : renderings) {
            SCOPED_TRACE(program + " " + name);
            Surface loaded = LoadPng(png);
            ASSERT_EQ(cairo_surface_status(loaded.get()), CAIRO_STATUS_SUCCESS);
            Surface flat = OnWhite(loaded.get(), cairo_image_surface_get_width(loaded.get()),
                                   cairo_image_surface_get_height(loaded.get()));
            Surface content = CropToContent(flat.get());
            // The picture is shown at its size, give or take the pixel a box border adds.
            EXPECT_NEAR(cairo_image_surface_get_width(content.get()), picture.Width(), 2);
            EXPECT_NEAR(cairo_image_surface_get_height(content.get()), picture.Height(), 2);
            Surface scaled = OnWhite(content.get(), picture.Width(), picture.Height());
            const Comparison c = Compare(expected.get(), scaled.get());
            EXPECT_LE(c.meanDifference, 8.0);
        }
    }
}

}  // namespace
}  // namespace ozm
