// Where the pipe pair <base>_IN / <base>_OUT lives. Pure, so the tools and
// tests can name the pipes without opening anything.
#ifndef VARNEX_PIPE_PIPE_NAMES_H
#define VARNEX_PIPE_PIPE_NAMES_H

#include <string>

namespace varnex {

// The base name of the order pipes, on the local machine: every sender and
// receiver on it meets there.
constexpr const char *kOrderPipeBaseName = "kelvor.ts.guicl";

// "\\" + host + "\pipe\" + name: the pair's path without its direction.
std::string pipeBasePath(const std::string &pipeName, const std::string &hostName);
// The "_IN" pipe (sender to receiver) when `in`, else the "_OUT" pipe.
std::string pipePath(const std::string &basePath, bool in);
// The order pipes of this machine.
std::string orderPipePath(bool in);
// The name of the kernel object that the one receiver of a pipe pair holds
// for as long as it serves, in the caller's session: "Local\" + the last
// part of the "_IN" pipe's path + ".receiver".
std::string receiverClaimName(const std::string &inPipePath);

}  // namespace varnex

#endif
