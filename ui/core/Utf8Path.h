#pragma once

#include <filesystem>
#include <string>

// The dialog's paths are UTF-8 texts on every platform; these turn them into
// the file system's paths and back.
inline std::filesystem::path Utf8Path(const std::string& text)
{
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}
inline std::string Utf8Text(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}
