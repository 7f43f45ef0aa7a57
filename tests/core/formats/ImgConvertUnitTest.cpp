#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "core/formats/ImgConvertUnit.h"
#include "core/formats/raster/BmpCodec.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

namespace fs = std::filesystem;
using test::DataFile;
using test::ReadAll;

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ImgConvertUnit, ReaderChoosesByTheLowerCasedExtensionOnly) {
    test::ScratchDir dir;
    const auto jpeg = ReadAll(DataFile("jpeg/colour_444.jpg"));
    Bitmap bmp;
    for (const char* name : {"PHOTO.JPG", "a.jpeg", "b.JPE", "c.jfif"}) {
        test::WriteAll(dir / name, jpeg);
        EXPECT_TRUE(ReadImageFile(dir / name, bmp)) << name;
        EXPECT_EQ(bmp.BitCount(), 24);
    }
    // The content is never sniffed: JPEG bytes behind other extensions, PNG bytes behind .jpg.
    for (const char* name : {"x.png", "x.gif", "x.ico", "x.pcx", "noext", "x.jpg ", "x.jpeg2"}) {
        test::WriteAll(dir / name, jpeg);
        EXPECT_FALSE(ReadImageFile(dir / name, bmp)) << name;
    }
    test::WriteAll(dir / "png.jpg", ReadAll(DataFile("png/rgb8.png")));
    EXPECT_FALSE(ReadImageFile(dir / "png.jpg", bmp));
    EXPECT_FALSE(ReadImageFile(dir / "missing.jpg", bmp));
    EXPECT_FALSE(ReadImageFile(dir.Path(), bmp));  // a folder named like nothing
    fs::create_directory(dir / "folder.png");
    EXPECT_FALSE(ReadImageFile(dir / "folder.png", bmp));
    // Readers other than TIFF have nothing to say.
    int messages = 0;
    EXPECT_TRUE(
        ReadImageFile(DataFile("gif/single.gif"), bmp, [&](const std::string&) { ++messages; }));
    EXPECT_EQ(messages, 0);
}

TEST(ImgConvertUnit, OutputNameFollowsTheCode) {
    EXPECT_EQ(OutputNameFor("/o/x.JPG", 1), "/o/x.JPG");
    EXPECT_EQ(OutputNameFor("/o/x.jpg", 4), "/o/x.jpeg");
    EXPECT_EQ(OutputNameFor("/o/a.bmp", 1), "/o/a.jpg");
    EXPECT_EQ(OutputNameFor("/o/a", 7), "/o/a.gif");
    EXPECT_EQ(OutputNameFor("/o.d/a", 8), "/o.d/a.tif");
    EXPECT_EQ(OutputNameFor("/o/a.TIF", 8), "/o/a.TIF");
    EXPECT_EQ(OutputNameFor("/o/a.tiff", 8), "/o/a.tif");
    EXPECT_TRUE(OutputNameFor("/o/a.png", 0).empty());
    EXPECT_TRUE(OutputNameFor("/o/a.png", 9).empty());
}

TEST(ImgConvertUnit, WriterProducesWholeFilesOrNothing) {
    test::ScratchDir dir;
    const Bitmap bmp = test::MakePatternBitmap(40, 30, 24);
    // Codes 1 and 4 give the same bytes; a lower quality gives a smaller file.
    ASSERT_TRUE(WriteImageFile(bmp, dir / "q.jpg", 1, WriteSettings{}));
    ASSERT_TRUE(WriteImageFile(bmp, dir / "q.jpg", 4, WriteSettings{}));
    EXPECT_EQ(ReadAll(dir / "q.jpg"), ReadAll(dir / "q.jpeg"));
    WriteSettings low;
    low.jpegQuality = 50;
    ASSERT_TRUE(WriteImageFile(bmp, dir / "low.jpg", 1, low));
    EXPECT_LT(fs::file_size(dir / "low.jpg"), fs::file_size(dir / "q.jpg"));

    // BMP rows go from the bitmap straight to the file, padded: the bytes any stream gets.
    for (const int bits : {8, 24}) {
        const Bitmap odd = test::MakePatternBitmap(41, 7, bits);
        ASSERT_TRUE(WriteImageFile(odd, dir / "odd.bmp", FormatCode::Bmp, WriteSettings{}));
        EXPECT_EQ(ReadAll(dir / "odd.bmp"),
                  test::EncodeToBytes([&](std::FILE* f) { return EncodeBmp(odd, f); }));
    }
    fs::remove(dir / "odd.bmp");

    // Codes 0 and 9 create nothing; a missing folder gets no file.
    EXPECT_FALSE(WriteImageFile(bmp, dir / "none.png", 0, WriteSettings{}));
    EXPECT_FALSE(WriteImageFile(bmp, dir / "none.png", 9, WriteSettings{}));
    EXPECT_FALSE(WriteImageFile(bmp, dir / "no" / "such.png", 2, WriteSettings{}));

    // An existing file is replaced, unless it is read-only (even for root) or the caller
    // asked never to replace.
    ASSERT_TRUE(WriteImageFile(bmp, dir / "keep.png", 2, WriteSettings{}));
    const auto before = ReadAll(dir / "keep.png");
    const Bitmap other = test::MakePatternBitmap(8, 8, 24, 99);
    WriteSettings exclusive;
    exclusive.replaceExisting = false;
    EXPECT_FALSE(WriteImageFile(other, dir / "keep.png", 2, exclusive));
    EXPECT_EQ(ReadAll(dir / "keep.png"), before);
    ::chmod((dir / "keep.png").c_str(), 0444);
    EXPECT_FALSE(WriteImageFile(other, dir / "keep.png", 2, WriteSettings{}));
    EXPECT_EQ(ReadAll(dir / "keep.png"), before);
    ::chmod((dir / "keep.png").c_str(), 0644);
    EXPECT_TRUE(WriteImageFile(other, dir / "keep.png", 2, WriteSettings{}));
    EXPECT_NE(ReadAll(dir / "keep.png"), before);

    // An encoder failure (a GIF cannot be 70000 pixels wide) leaves no trace, temporary
    // files included.
    Bitmap wide;
    ASSERT_TRUE(wide.Create(70000, 1, 8));
    EXPECT_FALSE(WriteImageFile(wide, dir / "wide.gif", 7, WriteSettings{}));
    EXPECT_EQ(Names(dir.Path()),
              (std::vector<std::string>{"keep.png", "low.jpg", "q.jpeg", "q.jpg"}));
}

TEST(ImgConvertUnit, WrittenFilesReadBackAsTheSameImage) {
    test::ScratchDir dir;
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        const Bitmap src = test::MakePatternBitmap(21, 11, bits, 4);
        const auto expected = test::ToRgb(src);
        for (ImageFormatCode code : {FormatCode::Png, FormatCode::Gif}) {
            const fs::path path =
                dir / ("rt" + std::to_string(bits) + std::string(OutputExtension(code)));
            ASSERT_TRUE(WriteImageFile(src, path, code, WriteSettings{})) << bits;
            Bitmap back;
            ASSERT_TRUE(ReadImageFile(path, back)) << path;
            if (code == FormatCode::Png || bits <= 8) {
                EXPECT_EQ(test::CountDifferences(test::ToRgb(back), expected), 0) << path;
            }
        }
    }
}

TEST(ImgConvertUnit, FailuresSayWhyAndLeaveNothing) {
    test::ScratchDir dir;
    Bitmap bmp;
    std::string reason;
    // Pipes, folders, empty and missing files are refused at once, each with its reason.
    ASSERT_EQ(::mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    fs::create_directory(dir / "folder.jpg");
    test::WriteAll(dir / "empty.gif", {});
    const std::pair<const char*, const char*> cases[] = {
        {"pipe.png", "not a regular file"},
        {"folder.jpg", "is a folder"},
        {"empty.gif", "empty file"},
        {"missing.bmp", "no such file or directory"},
        {"photo.xyz", "not a supported image type"},
    };
    for (const auto& [name, why] : cases) {
        reason.clear();
        EXPECT_FALSE(ReadImageFile(dir / name, bmp, {}, &reason)) << name;
        EXPECT_EQ(reason, why) << name;
    }

    // A write that hits a file-size limit fails with that reason and leaves no file, named or
    // temporary. Run in a child: the limit is process-wide.
    EXPECT_TRUE(test::RunInChildProcesses(1, [&](int) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        Bitmap big;
        big.Create(200, 200, 24);
        ImageWriteReport report;
        const bool written =
            WriteImageFile(big, dir / "big.bmp", FormatCode::Bmp, WriteSettings{}, &report);
        return !written && report.reason == "file too large";
    }));
    EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"empty.gif", "folder.jpg", "pipe.png"}));
}

}  // namespace
}  // namespace ozm
