#include "pipe/pipe_names.h"

namespace varnex {

std::string pipeBasePath(const std::string &pipeName, const std::string &hostName) {
    return "\\\\" + hostName + "\\pipe\\" + pipeName;
}

std::string pipePath(const std::string &basePath, bool in) { return basePath + (in ? "_IN" : "_OUT"); }

std::string orderPipePath(bool in) { return pipePath(pipeBasePath(kOrderPipeBaseName, "."), in); }

}  // namespace varnex
