#include "pipe/pipe_names.h"

namespace varnex {

std::string pipeBasePath(const std::string &pipeName, const std::string &hostName) {
    return "\\\\" + hostName + "\\pipe\\" + pipeName;
}

std::string pipePath(const std::string &basePath, bool in) { return basePath + (in ? "_IN" : "_OUT"); }

std::string orderPipePath(bool in) { return pipePath(pipeBasePath(kOrderPipeBaseName, "."), in); }

std::string receiverClaimName(const std::string &inPipePath) {
    const size_t slash = inPipePath.find_last_of('\\');
    return "Local\\" + inPipePath.substr(slash == std::string::npos ? 0 : slash + 1) + ".receiver";
}

}  // namespace varnex
