// A temporary folder for one test, removed with everything in it afterwards.
#ifndef TESTS_TEMPFOLDER_H_
#define TESTS_TEMPFOLDER_H_

#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

class TempFolder {
public:
    TempFolder()
    {
        // create_directory fails on a name that exists, so a folder it makes
        // is ours alone even when tests run side by side.
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        std::random_device entropy;
        for (int attempt = 0; attempt < 100 && root_.empty(); ++attempt) {
            char name[32];
            snprintf(name, sizeof name, "orvane-%08x", static_cast<unsigned>(entropy()));
            if (std::filesystem::create_directory(base / name)) {
                root_ = (base / name).string();
            }
        }
        if (root_.empty()) {
            throw std::runtime_error("no temporary folder could be made in " + base.string());
        }
        std::error_code ignored;
        std::filesystem::permissions(root_, std::filesystem::perms::owner_all, ignored);
    }
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    std::string path(const std::string &name = "") const { return name.empty() ? root_ : root_ + "/" + name; }

private:
    std::string root_;
};

// Runs the test body's file work inside a folder and comes back afterwards.
class InFolder {
public:
    explicit InFolder(const std::string &folder) : previous_(std::filesystem::current_path())
    {
        std::filesystem::current_path(folder);
    }
    ~InFolder() { std::filesystem::current_path(previous_); }
    InFolder(const InFolder &) = delete;
    InFolder &operator=(const InFolder &) = delete;

private:
    std::filesystem::path previous_;
};

#endif
