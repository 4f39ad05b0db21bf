// varnex-orders: registers an order function with Varnex.dll and prints every
// order that arrives through the library's pipes.
#include <windows.h>

#include <atomic>
#include <string>

#include "common/system_errors.h"
#include "common/tool_text.h"
#include "common/tool_win.h"
#include "pipe/pipe_sender.h"

using namespace varnex_tools;

namespace {

constexpr const char *kUsage = "usage: varnex-orders [--dll PATH] [--csv]   or   varnex-orders --stop";

std::atomic<long> received{0};
bool csv = false;

void VARNEX_CALL printOrder(const char *text) {
    const std::string order = text;
    if (order == "QUIT") {
        SetEvent(stopEvent());
        return;
    }
    ++received;
    outLine(localStamp() + (csv ? "," : "  ") + order);
}

int usage(const std::string &problem) {
    errorLine("varnex-orders: " + problem + " (" + kUsage + ")");
    return 2;
}

// The pipes have a single instance: if they exist, someone else receives.
// Creating them for a moment tells, without touching that receiver's connection.
bool pipesHeldElsewhere(DWORD &error) {
    // A living receiver holds its claim; looking at it takes nothing.
    if (HANDLE claim =
            OpenEventA(SYNCHRONIZE, FALSE, varnex::receiverClaimName(varnex::orderPipePath(true)).c_str())) {
        CloseHandle(claim);
        error = ERROR_SUCCESS;
        return true;
    }
    // One without a claim (a library of an older version) holds the names.
    HANDLE probe = CreateNamedPipeA(varnex::orderPipePath(true).c_str(), PIPE_ACCESS_INBOUND,
                                    PIPE_TYPE_BYTE | PIPE_WAIT, 1, 1024, 1024, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return true;
    }
    CloseHandle(probe);
    return false;
}

// Sends "QUIT" as a sender would; a receiver whose last sender has just gone
// offers its pipes again a moment later, so the opening is retried briefly.
int sendQuit() {
    varnex::PipeSender sender;
    sender.configure(varnex::kOrderPipeBaseName, ".");
    const ULONGLONG deadline = GetTickCount64() + 3000;
    while (!sender.open()) {
        if (GetTickCount64() >= deadline) {
            errorLine("varnex-orders: no receiver to stop: " + varnex::orderPipePath(true) +
                      " cannot be opened (none running, or another sender holds it)");
            return 1;
        }
        Sleep(20);
    }
    if (!sender.send("QUIT")) {
        errorLine("varnex-orders: the receiver did not take QUIT");
        return 1;
    }
    outLine("varnex-orders: sent QUIT");
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    std::string dll;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--dll" && i + 1 < argc)
            dll = argv[++i];
        else if (arg == "--csv")
            csv = true;
        else if (arg == "--stop" && argc == 2)
            return sendQuit();
        else
            return usage("unknown or incomplete option " + arg);
    }
    VarnexLibrary varnex;
    std::string error;
    if (!loadVarnex(dll, varnex, error)) {
        errorLine("varnex-orders: " + error);
        return 3;
    }
    DWORD pipeError = 0;
    if (pipesHeldElsewhere(pipeError)) {
        errorLine("varnex-orders: the order pipes are already held by another receiver (" +
                  varnex::orderPipePath(true) +
                  (pipeError == ERROR_SUCCESS ? std::string() : ": " + varnex::systemErrorText(pipeError)) +
                  "): stop the other varnex-orders, or the host that registered its order function, first");
        return 1;
    }
    catchStopSignals();
    varnex.registerOrderFunc(printOrder);
    outLine("varnex-orders: waiting for orders on " + varnex::orderPipePath(true) + " (Ctrl+C or QUIT ends)");
    if (csv) outLine("time,symbol,quantity,price");
    WaitForSingleObject(stopEvent(), INFINITE);
    outLine("varnex-orders: " + std::to_string(received.load()) + " orders received");
    return 0;
}
