#pragma once
// Opening files and folders in the desktop's programs. Failures are not reported: the
// program has nothing better to do than to carry on.

#include <filesystem>
#include <string>

namespace ozm {

class ShellOpen {
  public:
    virtual ~ShellOpen() = default;
    // A file in its default program, a folder in the file manager (xdg-open).
    virtual void Open(const std::filesystem::path& path) = 0;
    // The first of kolourpaint, pinta, drawing, gimp found on PATH, else xdg-open.
    virtual void OpenInImageEditor(const std::filesystem::path& file) = 0;
    // An address with its scheme ("https://…", "mailto:…", "file:///…") in the desktop's
    // program for it (xdg-open). Anything without a scheme is refused.
    virtual void OpenAddress(const std::string& address) = 0;
};

// Starts the programs detached, from an argument list (StartDetached), never via a shell.
class SystemShellOpen : public ShellOpen {
  public:
    void Open(const std::filesystem::path& path) override;
    void OpenInImageEditor(const std::filesystem::path& file) override;
    void OpenAddress(const std::string& address) override;
};

}  // namespace ozm
