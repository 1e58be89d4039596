// A fresh empty folder, removed with everything in it at the end of the test.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace kavro::test {

class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kavro-test-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) != nullptr ? std::filesystem::path(pattern)
                                                     : std::filesystem::path();
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] std::string str() const { return path_.string(); }
    [[nodiscard]] size_t fileCount() const {
        return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(path_), {}));
    }
    void write(const std::string& file, std::string_view text) const {
        std::ofstream(path_ / file, std::ios::binary) << text;
    }
    void copyFrom(const std::filesystem::path& folder,
                  const std::vector<std::string>& files) const {
        for (const std::string& file : files)
            std::filesystem::copy_file(folder / file, path_ / file);
    }

  private:
    std::filesystem::path path_;
};

}  // namespace kavro::test
