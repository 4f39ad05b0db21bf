// A fresh folder under the temp directory, removed with all it holds afterwards.
#ifndef VARNEX_TESTS_TEMP_FOLDER_H
#define VARNEX_TESTS_TEMP_FOLDER_H

#include <set>
#include <string>
#include <vector>

namespace varnex_test {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    // With a trailing backslash, ready to serve as a driverName prefix.
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + name; }

private:
    std::string path_;
};

// The helpers below take absolute paths of any length: they go to the wide
// functions as "\\?\" + the path, which lifts MAX_PATH.

// Creates `parent` + "driver\\" and folders nested in it until the path (with
// its trailing backslash) is `length` long, and returns it; empty on failure.
std::string makeFolderOfLength(const std::string &parent, size_t length);

// What is left to read of an open file (a HANDLE), which is then closed.
std::string readAndClose(void *file);

// The whole file in binary mode, so CR LF stays visible; "<missing>" if absent.
std::string readFile(const std::string &path);
// The same, as a reader polling a signal file reads it: refused for the
// moment a new copy is moved over the file (it shares no delete), it tries
// again, for up to `limitMs`.
std::string readFileWhenFree(const std::string &path, unsigned limitMs = 1000);
bool fileExists(const std::string &path);
void writeFile(const std::string &path, const std::string &content);

// The names in a folder (given with its trailing backslash), without . and ..
std::set<std::string> entriesOf(const std::string &folderPath);

// How often `part` occurs in `text`, overlaps included.
size_t countOf(const std::string &text, const std::string &part);

// The stamp "YYYY/MM/DD hh:mm:ss" that every output line starts with.
bool isStamp(const std::string &text);

// Lines of a log or signal file with their stamp and separator removed;
// fails the current test if a line lacks either or its CR LF.
std::vector<std::string> unstampedLines(const std::string &content, char separator);

}  // namespace varnex_test

#endif
