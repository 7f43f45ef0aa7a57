#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <tuple>

#include "app/convert/ConversionRun.h"
#include "app/convert/OutputNaming.h"
#include "app/convert/Pipeline.h"
#include "core/formats/ImgConvertUnit.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

namespace fs = std::filesystem;

// Drives the run synchronously and records what the window would show.
struct TestHost : ConversionHost {
    ConversionOptions options;
    std::vector<std::string> entries;
    std::vector<bool> selected;
    int current = 0;
    std::vector<std::string> messages, hints, written, recent, events;
    std::optional<std::string> lastSourceFolder;
    bool stopFace = false;
    // Runs inside the pumps and progress steps, as a click handled by the message loop would.
    std::function<void()> onPump;
    std::function<void()> onStep;

    ConversionOptions Options() override { return options; }
    int EntryCount() override { return static_cast<int>(entries.size()); }
    int CurrentIndex() override { return entries.empty() ? -1 : current; }
    std::string EntryText(int i) override { return entries[static_cast<std::size_t>(i)]; }
    bool IsSelected(int i) override { return selected[static_cast<std::size_t>(i)]; }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void SetHint(const std::string& text) override { hints.push_back(text); }
    std::function<void()> onWritten;
    void FileWritten(const std::string& path) override {
        written.push_back(fs::path(path).filename());
        if (auto f = std::exchange(onWritten, nullptr)) f();
    }
    void AddRecentFolder(const std::string& f) override { recent.push_back(f); }
    void StoreLastSourceFolder(const std::string& f) override { lastSourceFolder = f; }
    void ChooseSourceFolder() override { events.push_back("choose source"); }
    void ChooseTargetFolder() override { events.push_back("choose target"); }
    void FocusSourceList(bool first) override { events.push_back(first ? "focus first" : "focus"); }
    void RefreshTargetList() override { events.push_back("refresh target"); }
    void SetStopFace(bool s) override { stopFace = s; }
    void ShowConversionPage() override {}
    void ShowProgressBar(bool) override {}
    void ResetProgress() override {}
    void ProcessPendingWork() override {
        if (auto f = std::exchange(onPump, nullptr)) f();
    }
    void StepProgress() override {
        if (auto f = std::exchange(onStep, nullptr)) f();
    }
    // Above 1, the next selected file is read while the current one is written.
    int threads = 2;
    int TransformThreads() const override { return threads; }
};

struct RunFixture : ::testing::Test {
    test::ScratchDir dir;
    std::string src, dst;
    TestHost host;
    ConversionRun run{host};

    void SetUp() override {
        src = (dir / "src").string() + "/";
        dst = (dir / "dst").string() + "/";
        fs::create_directories(src);
        fs::create_directories(dst);
        host.options.sourceFolder = src;
        host.options.targetFolder = dst;
    }
    void AddSource(const std::string& name, const std::string& data = "png/rgb8.png",
                   bool sel = true) {
        fs::copy_file(test::DataFile(data), src + name);
        host.entries.push_back(name);
        host.selected.push_back(sel);
    }
    void Tick(std::initializer_list<const char*> formats) {
        host.options.formats.Clear();
        for (const char* f : formats) {
            for (const ImageFormat& row : OutputFormatTable()) {
                if (row.name == f) host.options.formats.Tick(row.code);
            }
        }
    }
    std::vector<std::string> Files(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(RunFixture, FormatsAreWrittenInTheFixedOrderUnderTheSourceNames) {
    AddSource("a.png");
    AddSource("b.b.png");
    AddSource("PHOTO.PNG");
    Tick({"PNG", "JPG"});
    run.BtnImgCovertClick();
    EXPECT_EQ(host.written, (std::vector<std::string>{"a.jpg", "a.png", "b.b.jpg", "b.b.png",
                                                      "PHOTO.jpg", "PHOTO.png"}));
    EXPECT_EQ(host.hints.back(), "所有转换已完成，请查看“转换后图片列表”（成功 3 个，失败 0 个）");
    EXPECT_EQ(host.hints[0], "成功转换" + src + "a.png");
    EXPECT_EQ(host.recent, (std::vector<std::string>{src, dst}));
    EXPECT_EQ(host.lastSourceFolder, src);
    EXPECT_EQ(host.events, (std::vector<std::string>{"refresh target"}));
    EXPECT_EQ(run.State(), RunState::Idle);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(RunFixture, TakenNamesAreNumberedAcrossRunsAndTheSourceIsNeverReplaced) {
    AddSource("photo.jpg", "jpeg/colour_444.jpg");
    host.options.targetFolder = src;  // target equal to source
    Tick({"JPG"});
    const auto original = test::ReadAll(src + "photo.jpg");
    run.BtnImgCovertClick();
    run.BtnImgCovertClick();
    EXPECT_EQ(host.written, (std::vector<std::string>{"photo(1).jpg", "photo(2).jpg"}));
    EXPECT_EQ(test::ReadAll(src + "photo.jpg"), original);
}

TEST_F(RunFixture, StopDuringAFileWritesItsFirstFormatOnly) {
    AddSource("a.png");
    AddSource("b.png");
    Tick({"JPG", "PNG", "GIF"});
    host.options.resizeMode = ResizeMode::ByPercent;
    host.options.percentage = 50;
    // The click arrives while the first file is being resized (on the run's own thread).
    host.threads = 1;
    host.onPump = [&] { host.onPump = [&] { run.BtnImgCovertClick(); }; };
    run.BtnImgCovertClick();
    EXPECT_EQ(host.written, (std::vector<std::string>{"a.jpg"}));
    EXPECT_EQ(host.hints.back(), "Stop");
    EXPECT_TRUE(host.recent.empty());
    EXPECT_FALSE(host.lastSourceFolder);
    EXPECT_EQ(run.State(), RunState::Idle);
    EXPECT_FALSE(host.stopFace);
}

TEST_F(RunFixture, StopAfterAFileEndsTheRunBeforeTheNext) {
    AddSource("a.png");
    AddSource("b.png");
    Tick({"JPG", "GIF"});
    // The second pump of the first file comes after its writes.
    host.onPump = [&] { host.onPump = [&] { run.BtnImgCovertClick(); }; };
    host.options.resizeMode = ResizeMode::None;
    run.BtnImgCovertClick();
    EXPECT_EQ(host.written, (std::vector<std::string>{"a.jpg", "a.gif"}));
    EXPECT_EQ(host.hints.back(), "Stop");
}

TEST_F(RunFixture, ClickWhileStoppingAsksToWait) {
    AddSource("a.png");
    Tick({"PNG"});
    host.onPump = [&] {
        run.BtnImgCovertClick();  // stop
        EXPECT_EQ(run.State(), RunState::Stopping);
        EXPECT_TRUE(host.stopFace);
        run.BtnImgCovertClick();  // a second click while the stop is pending
    };
    run.BtnImgCovertClick();
    EXPECT_EQ(host.messages, (std::vector<std::string>{"Please waiting for a while."}));
    EXPECT_EQ(run.State(), RunState::Idle);
    // The next run starts afresh, with no stop left over.
    host.messages.clear();
    run.BtnImgCovertClick();
    EXPECT_EQ(host.written, (std::vector<std::string>{"a.png", "a(1).png"}));
}

TEST_F(RunFixture, AClickMadeBeforeTheRunEndedIsIgnoredAndInputStampsAreDatedByTheirClock) {
    AddSource("a.png");
    Tick({"PNG"});
    ClickClock::time_point madeDuringTheRun;
    host.onPump = [&] { madeDuringTheRun = ClickClock::now(); };
    run.BtnImgCovertClick();
    run.BtnImgCovertClick(madeDuringTheRun);
    EXPECT_EQ(host.written, (std::vector<std::string>{"a.png"}));
    EXPECT_TRUE(host.messages.empty());
    run.BtnImgCovertClick();
    EXPECT_EQ(host.written, (std::vector<std::string>{"a.png", "a(1).png"}));

    // Milliseconds of the monotonic clock cut to 32 bits, across their wrap too; a stamp of
    // another clock counts as made when handled.
    using std::chrono::milliseconds;
    const ClickClock::time_point handled(milliseconds((std::int64_t{5} << 32) + 1000));
    EXPECT_EQ(InputEventMade(400, handled), handled - milliseconds(600));
    EXPECT_EQ(InputEventMade(0xFFFFFF00u, handled), handled - milliseconds(1256));
    EXPECT_EQ(InputEventMade(7, ClickClock::time_point(std::chrono::hours(3))),
              ClickClock::time_point(std::chrono::hours(3)));
}

TEST_F(RunFixture, MissingFoldersAndEmptySelections) {
    AddSource("a.png", "png/rgb8.png", false);
    Tick({"PNG"});
    host.options.sourceFolder = src + "gone/";
    run.BtnImgCovertClick();
    host.options.sourceFolder = src;
    host.options.targetFolder = dst + "gone/";
    run.BtnImgCovertClick();
    EXPECT_EQ(host.messages,
              (std::vector<std::string>{"请选择源文件夹和目标文件夹", "请选择目标文件夹"}));
    EXPECT_EQ(host.events, (std::vector<std::string>{"choose source", "choose target"}));

    // Entries but none selected: the loop runs through, then asks for a selection.
    host.messages.clear();
    host.events.clear();
    host.options.targetFolder = dst;
    run.BtnImgCovertClick();
    EXPECT_EQ(host.messages, (std::vector<std::string>{"请选择一个图片"}));
    EXPECT_EQ(host.events, (std::vector<std::string>{"focus first"}));
    EXPECT_EQ(host.recent.size(), 2u);
    EXPECT_EQ(host.lastSourceFolder, "");

    // An empty list: the message and the focus, nothing else.
    host.entries.clear();
    host.selected.clear();
    host.recent.clear();
    host.messages.clear();
    run.BtnImgCovertClick();
    EXPECT_EQ(host.messages, (std::vector<std::string>{"请选择一个图片"}));
    EXPECT_TRUE(host.recent.empty());
    EXPECT_TRUE(Files(dst).empty());
}

TEST_F(RunFixture, BadFilesAndFailedWritesAreCountedWithTheirReasonsAndTheRunGoesOn) {
    AddSource("a.png");
    AddSource("icon.ico");  // listed, but nothing decodes icons
    AddSource("gone.png");  // deleted after listing
    AddSource("c.png");
    AddSource("d.png", "jpeg/colour_444.jpg");
    fs::remove(src + "gone.png");
    Tick({"JPG"});
    // Every name c.jpg could take is taken: the write fails and nothing is overwritten.
    test::WriteAll(dst + "c.jpg", {1});
    for (int i = 1; i <= 1000; ++i) test::WriteAll(dst + "c(" + std::to_string(i) + ").jpg", {1});
    run.BtnImgCovertClick();
    EXPECT_EQ(host.messages,
              (std::vector<std::string>{"Not support image type.", "Not support image type."}));
    EXPECT_EQ(host.written, (std::vector<std::string>{"a.jpg"}));
    EXPECT_EQ(host.hints, (std::vector<std::string>{
                              "成功转换" + src + "a.png",
                              "转换失败" + src + "icon.ico（not a supported image type）",
                              "转换失败" + src + "gone.png（file not found）",
                              "转换失败" + src + "c.png（all 1001 names taken）",
                              "转换失败" + src + "d.png（not a PNG file）",
                              "所有转换已完成，请查看“转换后图片列表”（成功 1 个，失败 4 个）"}));
    EXPECT_EQ(test::ReadAll(dst + "c.jpg"), std::vector<std::uint8_t>{1});
    EXPECT_EQ(run.LastCounts().converted, 1);
    EXPECT_EQ(run.LastCounts().failed, 4);
}

// With a second core, the next file is read, resized and rotated while the current one is
// written: the messages, the hints, the names and the bytes written stay those of a run on one.
TEST_F(RunFixture, PreparingAheadChangesNothingTheWindowShowsOrTheFilesWritten) {
    AddSource("a.png");
    AddSource("bad.tif", "png/rgb8.png");  // a reader message, then "Not support image type."
    AddSource("c.png");
    AddSource("d.tif", "png/rgb8.png");  // prepared during c's writes, then deselected
    AddSource("e.png");
    AddSource("e.jpg", "jpeg/colour_444.jpg");  // prepared unrotated, then the angle changes
    Tick({"PNG", "GIF"});
    const auto runOnce = [&](int threads) {
        host.threads = threads;
        host.messages.clear();
        host.written.clear();
        host.hints.clear();
        host.selected.assign(6, true);
        host.options.rotateDegrees = 0;
        host.options.resizeMode = ResizeMode::ByPercent;
        host.options.percentage = 50;
        int outputs = 0;
        std::function<void()> count = [&] {
            ++outputs;
            if (outputs == 3) host.selected[3] = false;         // c.png written
            if (outputs == 5) host.options.rotateDegrees = 90;  // e.png written
            host.onWritten = count;
        };
        host.onWritten = count;
        for (const auto& e : fs::directory_iterator(dst)) fs::remove(e.path());
        run.BtnImgCovertClick();
        std::map<std::string, std::vector<std::uint8_t>> files;
        for (const std::string& name : Files(dst)) files[name] = test::ReadAll(dst + name);
        return std::make_tuple(host.messages, host.written, host.hints, files);
    };
    const auto alone = runOnce(1);
    const auto ahead = runOnce(2);
    EXPECT_EQ(ahead, alone);
    EXPECT_EQ(std::get<0>(ahead),
              (std::vector<std::string>{"<" + src + "bad.tif> is not a valid TIFF file",
                                        "Not support image type."}));
    EXPECT_EQ(std::get<1>(ahead),
              (std::vector<std::string>{"a.png", "a.gif", "c.png", "c.gif", "e.png", "e.gif",
                                        "e(1).png", "e(1).gif"}));
    EXPECT_EQ(std::get<2>(ahead)[1], "转换失败" + src + "bad.tif（not a TIFF file）");
    Bitmap rotated;
    ASSERT_TRUE(ReadImageFile(dst + "e(1).png", rotated));
    EXPECT_GT(rotated.Height(), rotated.Width());
}

// A stop finishes the file in hand by the stop rule; the file prepared ahead is neither
// written nor heard of.
TEST_F(RunFixture, StopDropsTheFilePreparedAheadWithItsMessages) {
    AddSource("a.png");
    AddSource("b.png");
    AddSource("bad.tif", "png/rgb8.png");
    Tick({"PNG", "GIF"});
    host.onWritten = [&] { run.BtnImgCovertClick(); };
    run.BtnImgCovertClick();
    EXPECT_EQ(host.written, (std::vector<std::string>{"a.png"}));
    EXPECT_EQ(host.hints.back(), "Stop");

    host.selected[0] = false;
    host.written.clear();
    host.onWritten = [&] { run.BtnImgCovertClick(); };
    run.BtnImgCovertClick();
    EXPECT_EQ(host.written, (std::vector<std::string>{"b.png"}));
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(Files(dst), (std::vector<std::string>{"a.png", "b.png"}));
}

// The next file is encoded ahead with the quality of its start; changed since, it is encoded
// again at its turn.
TEST_F(RunFixture, AQualityChangedDuringTheRunReachesTheFileEncodedAhead) {
    AddSource("a.jpg", "jpeg/colour_444.jpg");
    AddSource("b.jpg", "jpeg/colour_444.jpg");
    Tick({"JPG"});
    host.onWritten = [&] { host.options.jpegQuality = 5; };
    run.BtnImgCovertClick();
    EXPECT_EQ(Files(dst), (std::vector<std::string>{"a.jpg", "b.jpg"}));
    EXPECT_LT(fs::file_size(dst + "b.jpg"), fs::file_size(dst + "a.jpg"));
}

TEST_F(RunFixture, OptionsAreReadAfreshForEveryFormat) {
    AddSource("a.png");
    AddSource("b.png");
    Tick({"JPG", "PNG"});
    // Unticking PNG once the first file's JPG is written applies to its remaining formats.
    host.onWritten = [&] { Tick({"JPG"}); };
    run.BtnImgCovertClick();
    EXPECT_EQ(host.written, (std::vector<std::string>{"a.jpg", "b.jpg"}));
}

TEST_F(RunFixture, TransformsBeyondTheLimitAndThrowingHostsFailOneFileOnly) {
    AddSource("a.png");
    AddSource("b.png");
    AddSource("c.png");
    Tick({"PNG"});
    host.options.resizeMode = ResizeMode::ByPercent;
    host.options.percentage = 100000;  // far beyond the pixel limit for every file
    run.BtnImgCovertClick();
    // Failed without a message box, and nothing written in place of the resized image.
    EXPECT_TRUE(host.written.empty());
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(
        host.hints[0].starts_with("转换失败" + src + "a.png（cannot resize: image too large"))
        << host.hints[0];
    EXPECT_EQ(run.LastCounts().failed, 3);

    // Anything thrown while converting a file (not only std::exception) fails that file; the
    // run goes on with the next and ends normally.
    host.hints.clear();
    host.options.resizeMode = ResizeMode::None;
    int steps = 0;
    std::function<void()> thrower = [&] {
        if (++steps == 1) throw 42;
        host.onStep = thrower;
    };
    host.onStep = thrower;
    run.BtnImgCovertClick();
    EXPECT_EQ(host.hints[0], "转换失败" + src + "a.png（unexpected failure）");
    EXPECT_EQ(host.written, (std::vector<std::string>{"b.png", "c.png"}));
    EXPECT_EQ(run.LastCounts().converted, 2);
    EXPECT_EQ(run.State(), RunState::Idle);
}

// The hooks the batch run, the quick conversion and the command line rely on, each at its
// step: the namer learns the file's base path before its first format, a failed read or
// transform is told once with its reason, and a stop before the writes drops the file.
TEST(Pipeline, EachHookIsCalledAtItsStepAndAStopBeforeTheWritesDropsTheFile) {
    test::ScratchDir dir;
    const std::string folder = dir.Path().string() + "/";
    const std::string source = folder + "a.png";
    fs::copy_file(test::DataFile("png/rgb8.png"), source);
    struct Host : PipelineHost {
        ConversionOptions options;
        int stopAtTest = 0;  // StopBeforeWriting answers true from this test on; 0: never
        int stopTests = 0;
        std::vector<std::string> events;
        ConversionOptions Options() override { return options; }
        bool StopBeforeWriting() override { return ++stopTests == stopAtTest; }
        void ReadFailed(const std::string& s, const std::string& r) override {
            events.push_back("unread " + fs::path(s).filename().string() + ": " + r);
        }
        void ConvertFailed(const std::string&, const std::string& r) override {
            events.push_back("failed: " + r.substr(0, r.find(':')));
        }
        void WritingFile(const std::string&) override { events.push_back("writing"); }
        void FileWritten(const std::string& p) override {
            events.push_back(fs::path(p).filename().string());
        }
    } host;
    struct Namer : OutputNamer {
        std::vector<std::string> bases;
        void BeginFile(const std::string& base) override { bases.push_back(base); }
    } namer;
    host.options.formats.Tick(FormatCode::Png);
    host.options.formats.Tick(FormatCode::Gif);
    Bitmap bitmap;
    const std::string out = folder + "out/";
    fs::create_directories(out);
    FileOutcome outcome = ConvertOneFile(source, out, bitmap, host, namer);
    EXPECT_TRUE(outcome.Converted());
    EXPECT_EQ(host.events, (std::vector<std::string>{"writing", "a.png", "a.gif"}));
    EXPECT_EQ(namer.bases, std::vector<std::string>{out + "a.png"});
    EXPECT_EQ(host.stopTests, 3);  // after the read, the resize and the rotation

    host.events.clear();
    host.stopTests = 0;
    host.stopAtTest = 2;  // after the resize
    outcome = ConvertOneFile(source, out, bitmap, host, namer);
    EXPECT_TRUE(outcome.stopped);
    EXPECT_FALSE(outcome.read);
    EXPECT_TRUE(host.events.empty());

    host.stopAtTest = 0;
    host.options.resizeMode = ResizeMode::ByPercent;
    host.options.percentage = 100000;
    outcome = ConvertOneFile(source, out, bitmap, host, namer);
    test::WriteAll(folder + "bad.png", {'n', 'o'});
    ConvertOneFile(folder + "bad.png", out, bitmap, host, namer);
    EXPECT_EQ(host.events, (std::vector<std::string>{"failed: cannot resize",
                                                     "unread bad.png: not a PNG file"}));
    EXPECT_EQ(namer.bases.size(), 1u);
}

TEST(Pipeline, ANameTakenByAnotherProgramMeanwhileGoesToTheNextNumber) {
    test::ScratchDir dir;
    const std::string folder = dir.Path().string() + "/";
    Bitmap bitmap;
    ASSERT_TRUE(bitmap.Create(4, 4, 24));
    // A namer that hands out a name someone else takes before the file is put in place.
    struct RacingNamer : OutputNamer {
        std::optional<std::string> Reserve(std::string_view f, std::string_view n) override {
            auto path = OutputNamer::Reserve(f, n);
            test::WriteAll(*path, {7});
            return path;
        }
    } namer;
    struct Host : PipelineHost {
        ConversionOptions options;
        std::vector<std::string> written, failed;
        ConversionOptions Options() override { return options; }
        void FileWritten(const std::string& p) override { written.push_back(p); }
        void WriteFailed(const std::string& p, const std::string& r) override {
            failed.push_back(p + ": " + r);
        }
    } host;
    host.options.formats.Tick(FormatCode::Png);
    const FileOutcome outcome = SaveInTickedFormats(bitmap, folder + "a.png", host, namer);
    EXPECT_EQ(outcome.written, 1);
    EXPECT_EQ(host.written, (std::vector<std::string>{folder + "a(1).png"}));
    EXPECT_EQ(test::ReadAll(folder + "a.png"), std::vector<std::uint8_t>{7});

    // Every name taken: the failure names the plain name and says why.
    for (int i = 1; i <= kMaxNumberedNames; ++i) {
        test::WriteAll(folder + "b(" + std::to_string(i) + ").png", {1});
    }
    SaveInTickedFormats(bitmap, folder + "b.png", host, namer);
    EXPECT_EQ(host.failed, (std::vector<std::string>{folder + "b.png: all 1001 names taken"}));
}

}  // namespace
}  // namespace ozm
