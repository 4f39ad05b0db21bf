#include "output/folder_watch.h"

#include <new>

#include "common/locks.h"
#include "output/path_access.h"

namespace varnex {

namespace {

// How long the destructor waits for a cancelled request to be reported.
constexpr DWORD kCancelLimitMs = 100;

}  // namespace

// Written by the system while the request is pending: it lives until the
// request is reported complete, or for good when it is not.
struct FolderWatch::Request {
    OVERLAPPED overlapped = {};
    UniqueHandle done;
    // A change that does not fit completes the request with nothing in it,
    // which tells as much: the names are not read, only that some changed.
    alignas(DWORD) unsigned char changes[512];
};

std::string folderOf(const std::string &path) {
    const size_t at = path.find_last_of("\\/");
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

FolderWatch::FolderWatch(const std::string &folder) {
    folder_.reset(createFileAt(folder.empty() ? std::string(".") : folder, FILE_LIST_DIRECTORY,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED));
    ExclusiveLock guard(lock_);
    arm();
}

FolderWatch::~FolderWatch() {
    ExclusiveLock guard(lock_);
    if (!request_) return;
    CancelIoEx(folder_.get(), &request_->overlapped);
    if (WaitForSingleObject(request_->done.get(), kCancelLimitMs) == WAIT_OBJECT_0)
        delete request_;
    else
        static_cast<void>(request_->done.release());  // the system may still write to it
}

// Under lock_, exclusively; with no request pending.
bool FolderWatch::arm() noexcept {
    if (!folder_) return false;
    if (!request_) {
        request_ = new (std::nothrow) Request;
        if (!request_) return false;
        request_->done.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    }
    if (!request_->done) return false;
    request_->overlapped = {};
    request_->overlapped.hEvent = request_->done.get();
    ResetEvent(request_->done.get());
    if (ReadDirectoryChangesW(folder_.get(), request_->changes, sizeof request_->changes, FALSE,
                              FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME, nullptr,
                              &request_->overlapped, nullptr))
        return true;
    // Not pending: nothing will be written to it.
    delete request_;
    request_ = nullptr;
    return false;
}

unsigned long FolderWatch::generation() noexcept {
    {
        // The system sets Internal from STATUS_PENDING when it reports the request.
        SharedLock guard(lock_);
        if (request_ && !HasOverlappedIoCompleted(&request_->overlapped)) return generation_;
    }
    ExclusiveLock guard(lock_);
    if (request_ && !HasOverlappedIoCompleted(&request_->overlapped)) return generation_;
    if (request_) {
        DWORD ignored = 0;
        GetOverlappedResult(folder_.get(), &request_->overlapped, &ignored, FALSE);
    }
    // Armed again before the count moves: a change from here on completes
    // the new request, so a caller that looks at its path after reading
    // this count misses none.
    arm();
    return ++generation_;
}

}  // namespace varnex
