// A fresh temporary directory for one test, removed afterwards. With `enter` the test runs
// inside it (the library writes its log and reads firmware files in the working directory).
#ifndef TESTS_SUPPORT_TEMPDIR_H
#define TESTS_SUPPORT_TEMPDIR_H

#include <string>

class TempDir {
public:
    explicit TempDir(bool enter = false);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
    std::string previous_;
};

// Reads a whole file; empty when it does not exist.
std::string readWholeFile(const std::string& path);

#endif  // TESTS_SUPPORT_TEMPDIR_H
