#include "pipe/pipe_reader.h"

#include <memory>
#include <string>
#include <utility>

#include "pipe/reader_task.h"

namespace varnex {

PipeReader::PipeReader() = default;

PipeReader::~PipeReader() { stop(); }

bool PipeReader::start(const std::string &inPath, const std::string &outPath, std::string stopWord,
                       OrderCallback callback) {
    if (!callback || task_) return false;
    auto task = std::make_unique<PipeReaderTask>();
    task->inPath = inPath;
    task->outPath = outPath;
    task->stopWord = std::move(stopWord);
    task->callback = callback;
    if (!task->createEvents() || !task->claimAndCreatePipes()) return false;
    PipeReaderTask *const started = task.get();
    if (!thread_.start(std::move(task))) return false;
    task_ = started;
    // Returns once the thread runs, so an unload right after the
    // registration finds it where it can be stopped.
    thread_.confirmStarted(kStopLimitMs);
    return true;
}

void PipeReader::stop() noexcept {
    if (!task_) return;
    task_->stopping = true;
    SetEvent(task_->stopEvent.get());
    // Still inside the host's order function (or this is that very call),
    // the thread is detached, and its task freed: the pipes and the claim go
    // now, and the module may go too. The function was handed a message
    // that the thread's own frames hold, nothing of the task. A pinned
    // reader keeps its task, and releases the pipes and the claim itself as
    // it ends.
    thread_.stop(kStopLimitMs, &task_->call);
    task_ = nullptr;
}

ReaderExit PipeReader::result() const { return task_ ? task_->result.load() : ReaderExit::NoTask; }

}  // namespace varnex
