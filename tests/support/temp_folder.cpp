#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <fstream>

namespace varnex_test {

namespace {

// Test paths are absolute, so "\\?\" before them lifts MAX_PATH.
std::wstring longForm(const std::string &path) {
    std::wstring wide(path.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), &wide[0],
                                    static_cast<int>(wide.size())));
    return L"\\\\?\\" + wide;
}

std::string narrow(const std::wstring &text) {
    std::string out(text.size() * 2, '\0');
    out.resize(WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0],
                                   static_cast<int>(out.size()), nullptr, nullptr));
    return out;
}

// Names in a folder (with its trailing backslash), without . and ..; `folders` says which are folders.
std::vector<std::string> namesIn(const std::string &folderPath, std::vector<bool> *folders = nullptr) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(longForm(folderPath + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = narrow(found.cFileName);
        if (name == "." || name == "..") continue;
        names.push_back(name);
        if (folders) folders->push_back((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

void removeTree(const std::string &folderPath) {
    std::vector<bool> folders;
    const std::vector<std::string> names = namesIn(folderPath, &folders);
    for (size_t i = 0; i < names.size(); ++i) {
        if (folders[i])
            removeTree(folderPath + names[i] + "\\");
        else
            DeleteFileW(longForm(folderPath + names[i]).c_str());
    }
    RemoveDirectoryW(longForm(folderPath).c_str());
}

}  // namespace

std::string makeFolderOfLength(const std::string &parent, size_t length) {
    std::string folder = parent + "driver\\";
    for (;;) {
        if (!CreateDirectoryW(longForm(folder).c_str(), nullptr)) return std::string();
        if (folder.size() >= length) return folder;
        // Components of 100 characters; the last one keeps at least one.
        const size_t room = length - folder.size();
        folder += std::string(room > 102 ? 100 : room - 1, 'd') + "\\";
    }
}

TempFolder::TempFolder() {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    static unsigned counter = 0;
    for (;;) {
        std::string candidate = std::string(base) + "varnex_" + std::to_string(GetCurrentProcessId()) + "_" +
                                std::to_string(++counter);
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            path_ = candidate + "\\";
            return;
        }
    }
}

TempFolder::~TempFolder() { removeTree(path_); }

std::string readAndClose(void *file) {
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
    CloseHandle(file);
    return content;
}

std::string readFile(const std::string &path) {
    HANDLE file = CreateFileW(longForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    return file == INVALID_HANDLE_VALUE ? "<missing>" : readAndClose(file);
}

std::string readFileWhenFree(const std::string &path, unsigned limitMs) {
    const ULONGLONG deadline = GetTickCount64() + limitMs;
    for (;;) {
        HANDLE file = CreateFileW(longForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) return readAndClose(file);
        if (GetLastError() != ERROR_SHARING_VIOLATION || GetTickCount64() >= deadline) return "<missing>";
        Sleep(5);
    }
}

bool fileExists(const std::string &path) {
    return GetFileAttributesW(longForm(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void writeFile(const std::string &path, const std::string &content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::set<std::string> entriesOf(const std::string &folderPath) {
    const std::vector<std::string> names = namesIn(folderPath);
    return std::set<std::string>(names.begin(), names.end());
}

size_t countOf(const std::string &text, const std::string &part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

bool isStamp(const std::string &text) {
    static const char shape[] = "dddd/dd/dd dd:dd:dd";
    if (text.size() != sizeof shape - 1) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != shape[i])
            return false;
    }
    return true;
}

std::vector<std::string> unstampedLines(const std::string &content, char separator) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "line without CR LF: " << content.substr(start);
            break;
        }
        const std::string line = content.substr(start, end - start);
        EXPECT_TRUE(line.size() >= 20 && isStamp(line.substr(0, 19)) && line[19] == separator)
            << "bad stamp or separator in: " << line;
        lines.push_back(line.size() >= 20 ? line.substr(20) : line);
        start = end + 2;
    }
    return lines;
}

}  // namespace varnex_test
