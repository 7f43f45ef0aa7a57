#include <gtest/gtest.h>

#include "core/formats/ImageFormats.h"
#include "core/text/TextRules.h"

namespace ozm {
namespace {

TEST(ImageFormats, ExtensionRule) {
    EXPECT_EQ(ExtractFileExt("photo.JPG"), ".JPG");
    EXPECT_EQ(ExtractFileExt("/home/u/a.b/photo"), "");
    EXPECT_EQ(ExtractFileExt("photo."), ".");
    EXPECT_EQ(ExtractFileExt("photo"), "");
    EXPECT_EQ(ExtractFileExt("a.b.png"), ".png");
    EXPECT_EQ(ExtractFileExt("/pics/.hidden"), ".hidden");
    EXPECT_EQ(ChangeFileExt("/out/a.b.png", ".jpg"), "/out/a.b.jpg");
    EXPECT_EQ(ChangeFileExt("/out.d/a", ".gif"), "/out.d/a.gif");
    EXPECT_EQ(ExtractFilePath("/pics/a.png"), "/pics/");
    EXPECT_EQ(ExtractFileName("/pics/a.png"), "a.png");
    EXPECT_EQ(AsciiLower("PHOTO.JPEG Ä"), "photo.jpeg Ä");
}

TEST(ImageFormats, SupportedExtensionsAreTheTwelveFixedOnes) {
    const auto& all = SupportedImageExtensions();
    ASSERT_EQ(all.size(), 12u);
    EXPECT_EQ(all.front(), ".bmp");
    EXPECT_EQ(all.back(), ".ico");
    for (const char* yes : {".jpg", ".JPEG", ".Jfif", ".jpe", ".bmp", ".DIB", ".gif", ".tif",
                            ".png", ".emf", ".wmf", ".ico", ".JPEG ", " \t.png\n"}) {
        EXPECT_TRUE(IsSupportedImageExtension(yes)) << yes;
    }
    for (const char* no : {"", ".", ".tiff", ".jpeg2", "jpg", ".pcx", ".j pg", ".ＪＰＧ"}) {
        EXPECT_FALSE(IsSupportedImageExtension(no)) << no;
    }
    EXPECT_TRUE(IsSupportedImageFile("PHOTO.JPEG"));
    EXPECT_TRUE(IsSupportedImageFile("/x/photo.jpeg"));
    EXPECT_TRUE(IsSupportedImageFile("icon.ico"));
    EXPECT_FALSE(IsSupportedImageFile("scan.tiff"));
    EXPECT_FALSE(IsSupportedImageFile("README"));
    EXPECT_FALSE(IsSupportedImageFile("archive.tar"));
    EXPECT_FALSE(IsSupportedImageFile("/my.pics/photo"));
}

TEST(ImageFormats, CodesAndTheWritingOrder) {
    EXPECT_EQ(OutputExtension(1), ".jpg");
    EXPECT_EQ(OutputExtension(2), ".png");
    EXPECT_EQ(OutputExtension(3), ".bmp");
    EXPECT_EQ(OutputExtension(4), ".jpeg");
    EXPECT_EQ(OutputExtension(5), ".wmf");
    EXPECT_EQ(OutputExtension(6), ".emf");
    EXPECT_EQ(OutputExtension(7), ".gif");
    EXPECT_EQ(OutputExtension(8), ".tif");
    EXPECT_EQ(OutputExtension(0), "");
    EXPECT_EQ(OutputExtension(9), "");
    std::string order;
    for (const auto& row : OutputFormatTable()) {
        order += std::to_string(row.code);
        EXPECT_EQ(row.extension, OutputExtension(row.code));
    }
    EXPECT_EQ(order, "31426578");
}

TEST(ImageFormats, OneTableAnswersEveryQuestion) {
    // Every written format reads back under its own extension, and its code finds its row.
    for (const ImageFormat& row : OutputFormatTable()) {
        EXPECT_EQ(FormatForCode(row.code), &row) << row.name;
        EXPECT_EQ(FormatForReadExtension(row.extension), &row) << row.name;
        EXPECT_TRUE(row.decoder && row.encoder) << row.name;
    }
    // JPG and JPEG share their reader; ".tiff" is read but not listed, ".ico" listed only.
    EXPECT_EQ(FormatForReadExtension(".jfif")->code, FormatCode::Jpg);
    EXPECT_EQ(FormatForReadExtension(".jpeg")->decoder, FormatForReadExtension(".jpg")->decoder);
    EXPECT_EQ(FormatForReadExtension(".tiff")->code, FormatCode::Tiff);
    EXPECT_EQ(FormatForReadExtension(".ico")->decoder, nullptr);
    EXPECT_EQ(FormatForReadExtension(".JPG"), nullptr);  // callers lower-case first
    EXPECT_TRUE(IsDesktopReadableFile("/x/scan.TIFF") && IsDesktopReadableFile("a.jpe"));
    EXPECT_FALSE(IsDesktopReadableFile("icon.ico") || IsDesktopReadableFile("a.webp") ||
                 IsDesktopReadableFile("tiff"));
    EXPECT_EQ(FormatForCode(0), nullptr);
    EXPECT_EQ(ImageFormatTable().size(), 10u);  // the eight written, ICO, and PCX's hidden box
    for (int code = 0; code < 256; ++code) {
        EXPECT_EQ(WrittenByDesktop(static_cast<ImageFormatCode>(code)), code >= 1 && code <= 8);
    }
}

TEST(ImageFormats, TheFileManagersListsKeepTheirOrder) {
    std::string extensions, types;
    for (std::string_view ext : FileManagerExtensions()) extensions += std::string(ext) + " ";
    for (std::string_view type : FileManagerMimeTypes()) types += std::string(type) + ";";
    EXPECT_EQ(extensions, ".jpg .jpeg .jpe .jfif .bmp .dib .gif .tif .png .emf .wmf .ico ");
    EXPECT_EQ(types,
              "image/jpeg;image/pjpeg;image/bmp;image/x-bmp;image/x-ms-bmp;image/gif;image/tiff;"
              "image/png;image/emf;image/x-emf;image/wmf;image/x-wmf;image/vnd.microsoft.icon;"
              "image/x-icon;");
}

}  // namespace
}  // namespace ozm
