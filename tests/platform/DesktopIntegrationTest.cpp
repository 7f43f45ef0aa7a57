// The install into a scratch home, each of the ten hooks run the way its file manager runs
// it (with a stand-in program recording what arrives), and the removal of the registration
// beside other programs' hooks.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "app/shell/CommandLine.h"
#include "app/shell/HandlerRegistration.h"
#include "platform/DesktopInstall.h"
#include "platform/FileHash.h"
#include "platform/InstallManifest.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace ozm {
namespace {

constexpr std::string_view kTitle = "图片批量转换";

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteText(const fs::path& file, std::string_view text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

// Every path under `root` with its kind and, for files, its hash and mode.
std::map<std::string, std::string> Listing(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const fs::path p = it->path();
        struct stat st {};
        ::lstat(p.c_str(), &st);
        std::string what = std::to_string(st.st_mode);
        if (S_ISREG(st.st_mode)) what += " " + FileSha256Hex(p).value_or("?");
        if (S_ISLNK(st.st_mode)) what += " -> " + fs::read_symlink(p).string();
        out[fs::relative(p, root).string()] = what;
    }
    return out;
}

// Runs argv (no shell) in `cwd` with extra environment entries; the exit status.
int RunIn(const std::vector<std::string>& argv, const fs::path& cwd,
          const std::vector<std::pair<std::string, std::string>>& env = {}) {
    pid_t child = fork();
    if (child == 0) {
        if (::chdir(cwd.c_str()) != 0) _exit(126);
        for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The arguments of a desktop entry's Exec value as its readers split them: the value's own
// escapes first, then words, double quotes holding blanks and backslash-escaped \"`$\.
std::vector<std::string> SplitDesktopExec(const std::string& value) {
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char c = value[++i];
            text += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
        } else {
            text += value[i];
        }
    }
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '\\' && i + 1 < text.size()) {
                word += text[++i];
            } else if (c == '"') {
                quoted = false;
            } else {
                word += c;
            }
        } else if (c == '"') {
            quoted = inWord = true;
        } else if (c == ' ') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

std::string KeyValue(const std::string& text, const std::string& key) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with(key + "=")) return line.substr(key.size() + 1);
    }
    return {};
}

std::string XmlElementText(const std::string& xml, const std::string& uniqueId,
                           const std::string& element) {
    const std::size_t id = xml.find("<unique-id>" + uniqueId + "</unique-id>");
    if (id == std::string::npos) return {};
    const std::size_t open = xml.find("<" + element + ">", id);
    const std::size_t close = xml.find("</" + element + ">", open);
    std::string text = xml.substr(open + element.size() + 2, close - open - element.size() - 2);
    for (auto [from, to] :
         {std::pair{"&quot;", "\""}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}}) {
        for (std::size_t at; (at = text.find(from)) != std::string::npos;) {
            text.replace(at, std::string_view(from).size(), to);
        }
    }
    return text;
}

// How Nemo and Thunar put the selection in place of %F: each path shell-quoted; then the
// line is split as a shell splits it.
std::string SubstituteQuoted(std::string command, const std::vector<std::string>& files) {
    std::string list;
    for (const std::string& f : files) list += (list.empty() ? "" : " ") + ShellQuote(f);
    command.replace(command.find("%F"), 2, list);
    return command;
}

class DesktopIntegrationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The install would mark the shortcut trusted in the caller's session otherwise.
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        home_ = scratch_.Path() / "home";
        at_ = {home_, home_ / ".local" / "share", home_ / ".config", home_ / "Desktop"};
        fs::create_directories(home_);
        record_ = scratch_.Path() / "argv.txt";
        // The stand-in program: each argument on a line of its own, NUL-terminated so a
        // name with a newline stays whole.
        stub_ = scratch_.Path() / "stub" / "ozm-imgconv";
        WriteText(stub_, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > " +
                             ShellQuote(record_.string()) + "\n");
        ::chmod(stub_.c_str(), 0755);
        icons_ = scratch_.Path() / "icons";
        WriteText(icons_ / "ozm-imgconv.svg", "<svg/>");
        for (int size : kIconSizes) {
            WriteText(icons_ / ("ozm-imgconv-" + std::to_string(size) + ".png"), "png");
        }
        WriteText(scratch_.Path() / "Help.html", "<html></html>");
        sources_ = {stub_, scratch_.Path() / "Help.html", icons_, ImageHookFilter()};
    }

    std::vector<std::string> Recorded() {
        std::vector<std::string> args;
        const std::string text = ReadText(record_);
        std::size_t pos = 0;
        for (std::size_t end; (end = text.find('\0', pos)) != std::string::npos; pos = end + 1) {
            args.push_back(text.substr(pos, end - pos));
        }
        fs::remove(record_);
        return args;
    }

    test::ScratchDir scratch_;
    fs::path home_, record_, stub_, icons_;
    DesktopLocations at_;
    InstallSources sources_;
};

TEST_F(DesktopIntegrationTest, InstallWritesEveryPieceOnceAndLeavesForeignFiles) {
    const InstallReport first = InstallDesktopIntegration(at_, sources_, kTitle);
    EXPECT_TRUE(first.Complete()) << (first.errors.empty() ? "" : first.errors[0]);
    const auto executable = [](const fs::path& p) { return ::access(p.c_str(), X_OK) == 0; };
    EXPECT_TRUE(executable(at_.ProgramFile()));
    EXPECT_EQ(fs::read_symlink(at_.BinLink()), at_.ProgramFile());
    EXPECT_TRUE(executable(at_.Launcher(kHandlerClassId)));
    EXPECT_EQ(at_.Launcher(kHandlerClassId).parent_path().filename(),
              "{961D0854-67F5-451F-BB89-D3380C1FF3A9}");
    for (const std::string name : {"OZMImageConvert", "OZMImageConvert folder"}) {
        const auto hooks = at_.HookFiles(name);
        EXPECT_TRUE(executable(hooks[0])) << hooks[0];  // Dolphin runs only executable menus
        EXPECT_TRUE(executable(hooks[1]));
        EXPECT_TRUE(executable(hooks[2]));
        EXPECT_TRUE(fs::is_regular_file(hooks[3]));
    }
    EXPECT_EQ(at_.MenuEntry(kTitle),
              home_ / ".local/share/applications/OZM软件/图片批量转换.desktop");
    EXPECT_TRUE(executable(at_.DesktopShortcut(kTitle)));
    EXPECT_TRUE(fs::exists(home_ / ".local/share/icons/hicolor/48x48/apps/ozm-imgconv.png"));
    EXPECT_TRUE(fs::exists(home_ / ".local/share/icons/hicolor/scalable/apps/ozm-imgconv.svg"));
    EXPECT_EQ(KeyValue(ReadText(at_.MenuEntry(kTitle)), "Name"), kTitle);
    // The file hooks offer themselves for what the program reads (".tiff" too, icons not),
    // Thunar's in both cases; every entry bears its label, the scripts as their names.
    const std::string extensions = "jpg;jpeg;jpe;jfif;bmp;dib;gif;tif;png;emf;wmf;tiff;";
    EXPECT_EQ(KeyValue(ReadText(at_.HookFiles("OZMImageConvert")[3]), "Extensions"), extensions);
    EXPECT_EQ(KeyValue(ReadText(at_.HookFiles("OZMImageConvert")[0]), "MimeType"),
              "image/jpeg;image/pjpeg;image/bmp;image/x-bmp;image/x-ms-bmp;image/gif;image/tiff;"
              "image/png;image/emf;image/x-emf;image/wmf;image/x-wmf;");
    const std::string patterns =
        XmlElementText(ReadText(at_.ThunarActions()), "OZMImageConvert", "patterns");
    EXPECT_TRUE(patterns.starts_with("*.jpg;*.JPG;*.jpeg;*.JPEG;")) << patterns;
    EXPECT_TRUE(patterns.ends_with(";*.wmf;*.WMF;*.tiff;*.TIFF;")) << patterns;
    for (const auto& [name, label] : {std::pair{"OZMImageConvert", "图片批量转换"},
                                      {"OZMImageConvert folder", "转换文件夹中的图片"}}) {
        const auto hooks = at_.HookFiles(name);
        EXPECT_EQ(hooks[1], at_.dataHome / "nautilus/scripts" / label);
        EXPECT_EQ(hooks[2], at_.configHome / "caja/scripts" / label);
        EXPECT_EQ(KeyValue(ReadText(hooks[0]), "Name"), label);
        EXPECT_EQ(KeyValue(ReadText(hooks[3]), "Name"), label);
        EXPECT_NE(ReadText(at_.ThunarActions())
                      .find("<name>" + std::string(label) +
                            "</name>\n\t<submenu></submenu>\n\t<unique-id>" + name + "<"),
                  std::string::npos);
    }

    // The manifest lists every file with the hash it has.
    const auto manifest = ReadInstallManifest(at_.Manifest(kTitle));
    ASSERT_TRUE(manifest.has_value());
    int files = 0;
    for (const ManifestEntry& e : *manifest) {
        if (e.kind != ManifestEntry::Kind::File) continue;
        ++files;
        EXPECT_EQ(FileSha256Hex(e.path), e.value) << e.path;
    }
    EXPECT_EQ(files, 2 + 1 + 8 + 2 + 1 + 7);

    if (test::HaveTool("desktop-file-validate")) {
        EXPECT_EQ(RunIn({"desktop-file-validate", at_.MenuEntry(kTitle).string(),
                         at_.DesktopShortcut(kTitle).string()},
                        scratch_.Path()),
                  0);
    }
    if (test::HaveTool("xmllint")) {
        EXPECT_EQ(RunIn({"xmllint", "--noout", at_.ThunarActions().string()}, scratch_.Path()), 0);
    }

    // Again: nothing is written, nothing changes.
    const auto before = Listing(home_);
    const InstallReport second = InstallDesktopIntegration(at_, sources_, kTitle);
    EXPECT_TRUE(second.written.empty()) << second.written[0];
    EXPECT_TRUE(second.Complete());
    EXPECT_EQ(Listing(home_), before);

    // A file of someone else's at one of our paths stays and is reported; our own earlier
    // file (its hash in the manifest) is brought up to date.
    WriteText(at_.HookFiles("OZMImageConvert")[1], "#!/bin/sh\necho mine\n");
    WriteText(stub_, ReadText(stub_) + "# a newer build\n");
    const InstallReport third = InstallDesktopIntegration(at_, sources_, kTitle);
    ASSERT_EQ(third.foreign.size(), 1u);
    EXPECT_EQ(third.foreign[0], at_.HookFiles("OZMImageConvert")[1]);
    EXPECT_EQ(ReadText(at_.HookFiles("OZMImageConvert")[1]), "#!/bin/sh\necho mine\n");
    EXPECT_EQ(ReadText(at_.ProgramFile()), ReadText(stub_));
}

TEST_F(DesktopIntegrationTest, EveryHookStartsTheProgramWithExactlyTheSelectedFiles) {
    ASSERT_TRUE(InstallDesktopIntegration(at_, sources_, kTitle).Complete());
    const fs::path folder = scratch_.Path() / "my pictures 'x'";
    const std::vector<std::string> names = {
        "my photo.jpg", "it's \"q\".png", "a?b.gif",    "$(touch ozm_inj1).bmp",
        "*.jpg",        "-rf.jpg",        "图片 1.jpg", "new\nline.png"};
    std::vector<std::string> files;
    for (const std::string& n : names) {
        WriteText(folder / n, "x");
        files.push_back((folder / n).string());
    }
    // What the folder hooks leave out: no picture, hidden, a picture in a sub-folder.
    for (const char* other : {"notes.txt", ".hidden.jpg", "icon.ico", "jpg", "sub folder/in.jpg"}) {
        WriteText(folder / other, "x");
    }
    std::vector<std::string> inFolder = files;
    WriteText(folder / "SCAN.TiFf", "x");  // the program reads it, in any case
    inFolder.push_back((folder / "SCAN.TiFf").string());
    std::sort(inFolder.begin(), inFolder.end());
    const fs::path other = scratch_.Path() / "second";
    WriteText(other / "z.png", "x");

    const std::vector<std::pair<std::string, std::string>> env = {
        {"PATH", stub_.parent_path().string() + ":" + std::getenv("PATH")}};
    // Folder hooks pass a folder's files in the shell's name order: compared as sets.
    const auto expectFiles = [&](const std::vector<std::string>& want, const std::string& how,
                                 bool anyOrder = false) {
        std::vector<std::string> got = Recorded();
        ASSERT_FALSE(got.empty()) << how << ": the program was not started";
        EXPECT_EQ(got[0], "--") << how;
        got.erase(got.begin());
        std::vector<std::string> expected = want;
        if (anyOrder) {
            std::sort(got.begin(), got.end());
            std::sort(expected.begin(), expected.end());
        }
        EXPECT_EQ(got, expected) << how;
        std::vector<std::string> argv = {"--"};
        argv.insert(argv.end(), got.begin(), got.end());
        const StartupDecision decision = DecideStartup(argv);
        EXPECT_EQ(decision.mode, StartupMode::QuickConversion) << how;
        EXPECT_EQ(decision.commandLineFiles, got) << how;
    };

    for (const bool folders : {false, true}) {
        const std::string name = folders ? "OZMImageConvert folder" : "OZMImageConvert";
        const std::vector<std::string> chosen =
            folders ? std::vector<std::string>{folder.string(), other.string()} : files;
        std::vector<std::string> want = folders ? inFolder : files;
        if (folders) want.push_back((other / "z.png").string());
        const auto hooks = at_.HookFiles(name);

        // Dolphin: the Exec line split by the desktop entry rules, %F one argument per file.
        std::vector<std::string> argv = SplitDesktopExec(KeyValue(ReadText(hooks[0]), "Exec"));
        auto f = std::find(argv.begin(), argv.end(), "%F");
        ASSERT_NE(f, argv.end());
        f = argv.erase(f);
        argv.insert(f, chosen.begin(), chosen.end());
        ASSERT_EQ(RunIn(argv, scratch_.Path(), env), 0);
        expectFiles(want, "dolphin " + name, folders);

        // Nautilus and Caja: the script in the folder, names relative to it as arguments.
        for (const fs::path& script : {hooks[1], hooks[2]}) {
            std::vector<std::string> args = {script.string()};
            if (folders) {
                args.insert(args.end(), chosen.begin(), chosen.end());
                ASSERT_EQ(RunIn(args, scratch_.Path(), env), 0);
            } else {
                args.insert(args.end(), names.begin(), names.end());
                ASSERT_EQ(RunIn(args, folder, env), 0);
            }
            expectFiles(want, script.string(), folders);
        }
        // Nemo and Thunar: the paths shell-quoted into the command line.
        const std::string nemo = SubstituteQuoted(KeyValue(ReadText(hooks[3]), "Exec"), chosen);
        ASSERT_EQ(RunIn({"/bin/sh", "-c", nemo}, scratch_.Path(), env), 0);
        expectFiles(want, "nemo " + name, folders);
        const std::string thunar = SubstituteQuoted(
            XmlElementText(ReadText(at_.ThunarActions()), name, "command"), chosen);
        ASSERT_EQ(RunIn({"/bin/sh", "-c", thunar}, scratch_.Path(), env), 0);
        expectFiles(want, "thunar " + name, folders);
    }
    EXPECT_FALSE(fs::exists(folder / "ozm_inj1"));
    EXPECT_FALSE(fs::exists(scratch_.Path() / "ozm_inj1"));

    // A folder without a picture starts nothing.
    const fs::path none = scratch_.Path() / "no pictures";
    WriteText(none / "notes.txt", "x");
    WriteText(none / ".seen.png", "x");
    WriteText(none / "deeper/a.png", "x");
    ASSERT_EQ(RunIn({at_.HookFiles("OZMImageConvert folder")[2].string(), none.string()},
                    scratch_.Path(), env),
              0);
    EXPECT_FALSE(fs::exists(record_));

    // The script variable alone (one path a line), and the stand-in found on PATH once the
    // link is gone.
    fs::remove(at_.BinLink());
    const std::vector<std::string> plain(files.begin(), files.end() - 1);
    std::string list;
    for (const std::string& f : plain) list += f + "\n";
    ASSERT_EQ(RunIn({at_.HookFiles("OZMImageConvert")[1].string()}, folder,
                    {env[0], {"NAUTILUS_SCRIPT_SELECTED_FILE_PATHS", list}}),
              0);
    expectFiles(plain, "nautilus variable");
    ASSERT_EQ(RunIn({at_.HookFiles("OZMImageConvert")[2].string()}, folder,
                    {env[0], {"CAJA_SCRIPT_SELECTED_FILE_PATHS", list}}),
              0);
    expectFiles(plain, "caja variable");
}

TEST_F(DesktopIntegrationTest, RemovalTakesOnlyOursAndEmptiedParents) {
    // Other programs' hooks beside ours.
    const fs::path otherMenu = at_.dataHome / "kio/servicemenus/other.desktop";
    const fs::path otherNemo = at_.dataHome / "nemo/actions/other.nemo_action";
    const fs::path otherScript = at_.configHome / "caja/scripts/Other";
    WriteText(otherMenu, "[Desktop Entry]\n");
    WriteText(otherNemo, "[Nemo Action]\n");
    WriteText(otherScript, "#!/bin/sh\n");
    const std::string otherActions =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>\n<!-- <action> in a comment -->\n"
        "<action>\n\t<name>A &amp; B</name>\n\t<unique-id>1-1</unique-id>\n"
        "\t<command>other %f</command>\n\t<patterns>*</patterns>\n\t<other-files/>\n</action>\n"
        "</actions>\n";
    WriteText(at_.ThunarActions(), otherActions);
    const auto before = Listing(home_);

    ASSERT_TRUE(InstallDesktopIntegration(at_, sources_, kTitle).Complete());
    RemoveHandlerRegistration(at_, kHandlerClassId, kFileHandlerName);
    auto after = Listing(home_);
    // What the registration removal leaves of the install: the program, entries, icons and
    // the manifest (the uninstall's later steps), none of the hooks.
    for (auto it = after.begin(); it != after.end();) {
        const std::string& p = it->first;
        const bool laterStep = p.starts_with(".local/lib") || p.starts_with(".local/bin") ||
                               p.starts_with(".local/share/applications") ||
                               p.starts_with(".local/share/icons") || p.starts_with("Desktop") ||
                               p.starts_with(".local/share/ozm-imgconv");
        it = laterStep && before.count(p) == 0 ? after.erase(it) : std::next(it);
    }
    EXPECT_EQ(after, before);
    EXPECT_EQ(ReadText(at_.ThunarActions()), otherActions);
    EXPECT_FALSE(fs::exists(at_.ClassFolder(kHandlerClassId)));
    // Nothing else was in these: they went, their parents too.
    EXPECT_FALSE(fs::exists(at_.dataHome / "nautilus"));
    EXPECT_FALSE(fs::exists(at_.dataHome / "nemo" / "actions" / "OZMImageConvert.nemo_action"));
    EXPECT_TRUE(fs::exists(otherMenu));

    // A second run changes nothing.
    const auto once = Listing(home_);
    RemoveHandlerRegistration(at_, kHandlerClassId, kFileHandlerName);
    EXPECT_EQ(Listing(home_), once);

    // Alone, the service menu folder and kio go with our hooks; a uca.xml the installer made
    // goes once our actions have left it.
    fs::remove(otherMenu);
    fs::remove(at_.ThunarActions());
    ASSERT_TRUE(InstallDesktopIntegration(at_, sources_, kTitle).Complete());
    RemoveHandlerRegistration(at_, kHandlerClassId, kFileHandlerName);
    EXPECT_FALSE(fs::exists(at_.dataHome / "kio"));
    EXPECT_FALSE(fs::exists(at_.configHome / "Thunar"));
    EXPECT_TRUE(fs::exists(otherScript));
}

TEST_F(DesktopIntegrationTest, HooksOnlyForTheSystemsProgramAndTheyGoAgain) {
    const auto before = Listing(home_);
    sources_.hooksOnly = true;
    ASSERT_TRUE(InstallDesktopIntegration(at_, sources_, kTitle).Complete());
    std::vector<std::string> files;
    for (const auto& [path, what] : Listing(home_)) {
        if (before.count(path) == 0 && fs::is_regular_file(home_ / path)) files.push_back(path);
    }
    const std::string label = "/" + std::string(kFileEntryLabel);
    const std::string folderLabel = "/" + std::string(kFolderEntryLabel);
    EXPECT_EQ(files, (std::vector<std::string>{
                         ".config/Thunar/uca.xml",
                         ".config/caja/scripts" + label,
                         ".config/caja/scripts" + folderLabel,
                         ".local/share/nautilus/scripts" + label,
                         ".local/share/nautilus/scripts" + folderLabel,
                         ".local/share/ozm-imgconv/{961D0854-67F5-451F-BB89-D3380C1FF3A9}/launch",
                         ".local/share/ozm-imgconv/" + std::string(kTitle) + ".manifest",
                     }));
    // No per-user program: the launcher falls back to the one on PATH.
    EXPECT_NE(ReadText(at_.Launcher(kHandlerClassId)).find("program=ozm-imgconv"),
              std::string::npos);
    // The registration's removal takes every one of them but the manifest.
    RemoveHandlerRegistration(at_, kHandlerClassId, kFileHandlerName);
    std::vector<std::string> left;
    for (const auto& [path, what] : Listing(home_)) {
        if (before.count(path) == 0 && fs::is_regular_file(home_ / path)) left.push_back(path);
    }
    EXPECT_EQ(left, std::vector<std::string>{files.back()});
}

TEST_F(DesktopIntegrationTest, NewActionsFileKeepsTheSystemsActionsAndOldScriptNamesGo) {
    // The system's own file, with its doctype, in the second configuration folder.
    const std::string system =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE actions [\n"
        "  <!ELEMENT actions (action)+>\n]>\n<actions>\n\n  <action>\n"
        "    <icon>utilities-terminal</icon>\n    <patterns>*</patterns>\n"
        "    <name>Open Terminal Here</name>\n    <command>exo-open %f</command>\n"
        "    <directories/>\n  </action>\n\n</actions>\n";
    at_.configDirs = {scratch_.Path() / "etc1", scratch_.Path() / "etc2"};
    WriteText(at_.configDirs[1] / "Thunar/uca.xml", system);
    ASSERT_TRUE(InstallDesktopIntegration(at_, sources_, kTitle).Complete());
    const std::string installed = ReadText(at_.ThunarActions());
    EXPECT_TRUE(installed.starts_with(system.substr(0, system.find("\n</actions>"))));
    EXPECT_NE(installed.find("<unique-id>OZMImageConvert folder</unique-id>"), std::string::npos);
    // Ours gone, what is left is the system's copy, which Thunar reads anyway: it goes too.
    RemoveHandlerRegistration(at_, kHandlerClassId, kFileHandlerName);
    EXPECT_FALSE(fs::exists(at_.configHome / "Thunar"));

    // An earlier install's scripts, named after the handlers: an install over it deletes
    // them while they are as it wrote them; a user's edited one stays.
    ASSERT_TRUE(InstallDesktopIntegration(at_, sources_, kTitle).Complete());
    std::string manifest = ReadText(at_.Manifest(kTitle));
    for (const std::string name : {"OZMImageConvert", "OZMImageConvert folder"}) {
        const auto hooks = at_.HookFiles(name);
        const auto old = at_.OldHookFiles(name);
        for (int i : {0, 1}) {
            fs::rename(hooks[1 + i], old[i]);
            manifest.replace(manifest.find(hooks[1 + i].string()), hooks[1 + i].string().size(),
                             old[i].string());
        }
    }
    WriteText(at_.Manifest(kTitle), manifest);
    const fs::path edited = at_.OldHookFiles("OZMImageConvert")[1];
    WriteText(edited, ReadText(edited) + "# mine\n");
    const InstallReport over = InstallDesktopIntegration(at_, sources_, kTitle);
    EXPECT_TRUE(over.Complete());
    EXPECT_EQ(over.removed.size(), 3u);
    EXPECT_FALSE(fs::exists(at_.OldHookFiles("OZMImageConvert")[0]));
    EXPECT_FALSE(fs::exists(at_.OldHookFiles("OZMImageConvert folder")[1]));
    EXPECT_TRUE(fs::exists(edited));
    EXPECT_TRUE(fs::exists(at_.HookFiles("OZMImageConvert")[2]));
    // The hook removal takes the old names as well.
    RemoveHandlerRegistration(at_, kHandlerClassId, kFileHandlerName);
    EXPECT_FALSE(fs::exists(edited));
    EXPECT_FALSE(fs::exists(at_.configHome / "caja"));
}

TEST_F(DesktopIntegrationTest, DesktopShortcutIsMarkedTrustedWithinASession) {
    // A recording gio first on PATH: one line per call, arguments separated by tabs.
    const fs::path calls = scratch_.Path() / "gio.txt";
    WriteText(stub_.parent_path() / "gio", "#!/bin/sh\n(IFS='\t'; printf '%s\\n' \"$*\") >> " +
                                               ShellQuote(calls.string()) + "\n");
    ::chmod((stub_.parent_path() / "gio").c_str(), 0755);
    const std::string path = std::getenv("PATH");
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string savedBus = bus ? bus : "";
    ::setenv("PATH", (stub_.parent_path().string() + ":" + path).c_str(), 1);

    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");  // no session: nothing to mark it in
    ASSERT_TRUE(InstallDesktopIntegration(at_, sources_, kTitle).Complete());
    EXPECT_FALSE(fs::exists(calls));

    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
    fs::remove(at_.DesktopShortcut(kTitle));
    ASSERT_TRUE(InstallDesktopIntegration(at_, sources_, kTitle).Complete());
    const std::string shortcut = at_.DesktopShortcut(kTitle).string();
    EXPECT_EQ(ReadText(calls), "set\t-t\tstring\t" + shortcut + "\tmetadata::xfce-exe-checksum\t" +
                                   FileSha256Hex(shortcut).value_or("?") + "\nset\t" + shortcut +
                                   "\tmetadata::trusted\ttrue\n");
    // A gio that fails is no failure of the install.
    WriteText(stub_.parent_path() / "gio", "#!/bin/sh\nexit 1\n");
    EXPECT_TRUE(InstallDesktopIntegration(at_, sources_, kTitle).Complete());

    ::setenv("PATH", path.c_str(), 1);
    if (bus) {
        ::setenv("DBUS_SESSION_BUS_ADDRESS", savedBus.c_str(), 1);
    } else {
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
}

TEST_F(DesktopIntegrationTest, ActionsFileThatDoesNotParseIsLeftAlone) {
    const std::string broken = "<actions><action><unique-id>OZMImageConvert</unique-id></actions>";
    WriteText(at_.ThunarActions(), broken);
    const InstallReport report = InstallDesktopIntegration(at_, sources_, kTitle);
    EXPECT_EQ(report.foreign, std::vector<fs::path>{at_.ThunarActions()});
    RemoveHandlerRegistration(at_, kHandlerClassId, kFileHandlerName);
    EXPECT_EQ(ReadText(at_.ThunarActions()), broken);
}

TEST_F(DesktopIntegrationTest, ManifestRemovalKeepsChangedFilesAndOthersFolders) {
    ASSERT_TRUE(InstallDesktopIntegration(at_, sources_, kTitle).Complete());
    const fs::path icon48 = at_.dataHome / "icons/hicolor/48x48/apps/ozm-imgconv.png";
    const fs::path icon16 = at_.dataHome / "icons/hicolor/16x16/apps/ozm-imgconv.png";
    WriteText(icon48, "edited by the user");
    WriteText(at_.dataHome / "icons/hicolor/16x16/apps/other.png", "other");
    const ManifestScope scope = InstallScope(at_, kTitle);
    ASSERT_TRUE(RemoveManifestFiles(at_.Manifest(kTitle), scope, {at_.ProgramFile()}));
    EXPECT_TRUE(fs::exists(icon48));
    EXPECT_FALSE(fs::exists(icon16));
    EXPECT_TRUE(fs::exists(at_.dataHome / "icons/hicolor/16x16/apps/other.png"));
    EXPECT_FALSE(fs::exists(at_.dataHome / "icons/hicolor/32x32"));
    EXPECT_FALSE(fs::exists(at_.BinLink()));
    EXPECT_TRUE(fs::exists(at_.ProgramFile()));
    EXPECT_FALSE(fs::exists(at_.Manifest(kTitle)));
    EXPECT_TRUE(RemoveManifestFiles(at_.Manifest(kTitle), scope, {}));  // gone: nothing to do

    // A planted line naming a system file is passed over whatever its hash.
    WriteText(at_.Manifest(kTitle), "file\t" + FileSha256Hex("/etc/hostname").value_or("") +
                                        "\t/etc/hostname\n"
                                        "file\t0\trelative/path\n");
    const auto entries = ReadInstallManifest(at_.Manifest(kTitle));
    ASSERT_TRUE(entries.has_value());
    EXPECT_EQ(entries->size(), 1u);  // the relative path is dropped
    EXPECT_TRUE(RemoveManifestFiles(at_.Manifest(kTitle), scope, {}));
    EXPECT_TRUE(fs::exists("/etc/hostname"));
}

TEST(FileHash, Sha256MatchesKnownDigests) {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the length no longer fits the first padding block.
    EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    test::ScratchDir dir;
    if (!test::HaveTool("sha256sum")) return;
    for (std::size_t size : {55u, 63u, 64u, 65u, 119u, 120u}) {
        std::string bytes;
        for (std::size_t i = 0; i < size; ++i) bytes += static_cast<char>(i * 37 + 11);
        WriteText(dir / "f", bytes);
        const std::string command = "sha256sum " + ShellQuote((dir / "f").string()) + " > " +
                                    ShellQuote((dir / "sum").string());
        ASSERT_EQ(std::system(command.c_str()), 0);
        EXPECT_EQ(ReadText(dir / "sum").substr(0, 64), Sha256Hex(bytes)) << size;
    }
}

}  // namespace
}  // namespace ozm
