// What both ends of the one-way pipe pair <base>_IN / <base>_OUT share:
// where the pair lives.
#ifndef VARNEX_PIPE_PIPE_END_H
#define VARNEX_PIPE_PIPE_END_H

#include <windows.h>

#include <string>

#include "pipe/pipe_names.h"

namespace varnex {

class PipeEnd {
public:
    void configure(const std::string &pipeName, const std::string &hostName) {
        basePath_ = pipeBasePath(pipeName, hostName);
    }
    std::string pipePath(bool in) const { return varnex::pipePath(basePath_, in); }

protected:
    // An end is never owned or destroyed as a PipeEnd, so it needs no
    // virtual destructor.
    PipeEnd() = default;
    ~PipeEnd() = default;

private:
    std::string basePath_ = pipeBasePath("", ".");
};

}  // namespace varnex

#endif
