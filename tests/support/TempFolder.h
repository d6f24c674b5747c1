#pragma once

#include <string>

namespace wedgecard::test {

// A fresh folder for one test, removed with everything in it when the object goes.
class TTempFolder {
public:
    TTempFolder();
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;
    ~TTempFolder();

    [[nodiscard]] const std::string& Path() const noexcept { return FPath; }
    // Path of a file in the folder.
    [[nodiscard]] std::string File(const std::string& Name) const;

private:
    std::string FPath;
};

// The whole content of a file; empty when it does not exist.
[[nodiscard]] std::string ReadFile(const std::string& Path);
[[nodiscard]] bool FileExists(const std::string& Path);
void WriteFile(const std::string& Path, const std::string& Content);

}  // namespace wedgecard::test
