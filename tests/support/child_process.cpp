#include "support/child_process.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "support/temp_folder.h"

namespace varnex_test {

using varnex::UniqueHandle;

std::string binFolder() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string full(path, length);
    return full.substr(0, full.find_last_of('\\') + 1);
}

namespace {

// A pipe whose `childEnd` the child inherits and whose other end stays here.
bool makePipe(UniqueHandle &readEnd, UniqueHandle &writeEnd, bool childReads) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, 1 << 16)) {
        ADD_FAILURE() << "CreatePipe failed (" << GetLastError() << ")";
        return false;
    }
    readEnd.reset(read);
    writeEnd.reset(write);
    SetHandleInformation(childReads ? write : read, HANDLE_FLAG_INHERIT, 0);
    return true;
}

}  // namespace

ChildProcess::ChildProcess(const std::string &commandLine, const ChildOptions &options)
    : commandLine_(commandLine), outputFile_(options.outputFile) {
    const bool withConsole = options.console != ChildConsole::None;
    UniqueHandle outWrite, inRead, inWrite;
    if (withConsole && !makePipe(output_, outWrite, false)) return;
    if (options.input && !makePipe(inRead, inWrite, true)) return;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = options.input ? inRead.get() : INVALID_HANDLE_VALUE;
    startup.hStdOutput = withConsole ? outWrite.get() : INVALID_HANDLE_VALUE;
    startup.hStdError = withConsole ? outWrite.get() : INVALID_HANDLE_VALUE;
    PROCESS_INFORMATION info = {};
    std::string command = commandLine;
    startMs_ = GetTickCount64();
    // Wine now and then fails a start with ERROR_INTERNAL_ERROR before the
    // child runs anything; what is tested is the child, so it is started again.
    BOOL ok = FALSE;
    for (int tries = 0; tries < 3 && !ok; ++tries) {
        command = commandLine;
        ok = CreateProcessA(options.application.empty() ? nullptr : options.application.c_str(), &command[0],
                            nullptr, nullptr, TRUE, withConsole ? 0 : DETACHED_PROCESS, nullptr, nullptr,
                            &startup, &info);
        if (!ok && GetLastError() != ERROR_INTERNAL_ERROR) break;
    }
    // Only the child holds these ends now, so this side sees the end of its output.
    outWrite.reset();
    inRead.reset();
    if (!ok) {
        ADD_FAILURE() << "cannot start " << commandLine << " (" << GetLastError() << ")";
        output_.reset();
        return;
    }
    UniqueHandle thread(info.hThread);
    process_.reset(info.hProcess);
    if (options.console == ChildConsole::Read) startReading();
    if (options.input) {
        DWORD written = 0;
        const std::string &input = *options.input;
        if (!input.empty())
            WriteFile(inWrite.get(), input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
    }
}

void ChildProcess::startReading() {
    if (reader_.joinable() || !output_) return;
    reader_ = std::thread([this] {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(output_.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            collected_.append(buffer, got);
        }
    });
}

ChildProcess::~ChildProcess() {
    if (process_) {
        if (WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) TerminateProcess(process_.get(), 99);
        WaitForSingleObject(process_.get(), 10000);
    }
    if (reader_.joinable()) reader_.join();
}

std::string ChildProcess::output() {
    if (!outputFile_.empty()) return readFile(outputFile_);
    std::lock_guard<std::mutex> lock(mutex_);
    return collected_;
}

bool ChildProcess::waitForOutput(const std::string &text, unsigned limitMs) {
    const ULONGLONG deadline = GetTickCount64() + limitMs;
    for (;;) {
        if (output().find(text) != std::string::npos) return true;
        if (GetTickCount64() > deadline) return false;
        Sleep(5);
    }
}

ChildResult ChildProcess::finish(unsigned limitMs) {
    ChildResult result;
    if (!process_) return result;
    if (WaitForSingleObject(process_.get(), limitMs) != WAIT_OBJECT_0) {
        TerminateProcess(process_.get(), 99);
        ADD_FAILURE() << commandLine_ << " did not end within " << limitMs << " ms; output:\n" << output();
    }
    result.elapsedMs = GetTickCount64() - startMs_;
    if (reader_.joinable()) reader_.join();
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    result.exitCode = code;
    result.output = output();
    return result;
}

}  // namespace varnex_test
