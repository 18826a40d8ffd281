// A short-named temporary directory, removed with everything in it when the owner goes. Short, so that
// "@" and a path inside it fit the 63 characters the "Add: " prompt takes.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

struct TempDir {
    std::string path;
    TempDir()
    {
        char tmpl[] = "/tmp/quillor-t.XXXXXX";
        if (mkdtemp(tmpl)) path = tmpl;
    }
    ~TempDir()
    {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    // Writes `bytes` to the file `name` inside the directory and returns its path.
    std::string write(const std::string &name, const std::string &bytes) const
    {
        const std::string file = path + "/" + name;
        std::ofstream(file, std::ios::binary) << bytes;
        return file;
    }
};
