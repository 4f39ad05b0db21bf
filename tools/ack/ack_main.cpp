// varnex-ack: a loopback TCP order server on the project's socket layer. It
// prints each order and answers "OK", or misbehaves on request so that the
// library's relay can be watched handling it.
#include <windows.h>
#include <winsock2.h>

#include <memory>
#include <string>

#include "common/tcp_socket.h"
#include "common/tool_text.h"
#include "common/tool_win.h"

using namespace varnex_tools;

namespace {

constexpr const char *kUsage =
    "usage: varnex-ack [--port N] [--host 127.x.x.x] [--delay MS] [--silent | --reply TEXT | --split | "
    "--close] "
    "[--count N]";

enum class Mode { Ok, Silent, Reply, Split, Close };

struct Options {
    int64_t port = 0;
    std::string host = "127.0.0.1";
    int64_t delay = 0;
    Mode mode = Mode::Ok;
    std::string reply = "OK";
    int64_t count = 0;  // 0: until stopped
};

struct Counts {
    long connections = 0;
    long orders = 0;
    long acknowledged = 0;
};

int usage(const std::string &problem) {
    errorLine("varnex-ack: " + problem + " (" + kUsage + ")");
    return 2;
}

// Waits for the socket to become readable, giving up early when stopped.
bool readableWithin(const TcpSocket &socket, DWORD limitMs) {
    const ULONGLONG deadline = GetTickCount64() + limitMs;
    for (;;) {
        if (stopRequested()) return false;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        const ULONGLONG left = deadline - now;
        SocketSelector ready(socket, static_cast<uint32_t>(left < 200 ? left : 200));
        if (ready.isReady(socket)) return true;
    }
}

void pause(int64_t ms) {
    if (ms > 0) WaitForSingleObject(stopEvent(), static_cast<DWORD>(ms));
}

void serve(const TcpSocket &connection, const Options &options, Counts &counts) {
    const long number = ++counts.connections;
    const std::string prefix = localStamp() + "  #" + std::to_string(number) + "  ";
    if (!readableWithin(connection, 5000)) {
        outLine(prefix + "(no order within 5 s)");
        return;
    }
    const std::string order = connection.receiveAvailable();
    if (order.empty()) {
        outLine(prefix + "(closed without an order)");
        return;
    }
    ++counts.orders;
    pause(options.delay);
    std::string answer;
    switch (options.mode) {
        case Mode::Ok:
        case Mode::Reply:
            connection.sendBytes(options.reply);
            answer = "answered " + options.reply;
            if (options.reply == "OK") ++counts.acknowledged;
            break;
        case Mode::Split:
            connection.sendBytes("O");
            pause(50);
            connection.sendBytes("K");
            answer = "answered O and K apart";
            ++counts.acknowledged;
            break;
        case Mode::Silent:
            answer = "not answered (--silent)";
            break;
        case Mode::Close:
            answer = "closed without answering (--close)";
            break;
    }
    if (options.delay > 0) answer += " after " + std::to_string(options.delay) + " ms";
    outLine(prefix + order + "  " + answer);
    if (options.mode == Mode::Close) return;
    // Leave the closing to the client, which has what it waited for (or gave up).
    readableWithin(connection, options.mode == Mode::Silent ? 600000 : 5000);
}

}  // namespace

int main(int argc, char **argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--port" && hasValue) {
            if (!parseInteger(argv[++i], 0, 65535, options.port)) return usage("--port needs 0 to 65535");
        } else if (arg == "--host" && hasValue) {
            options.host = argv[++i];
            if (!isLoopbackAddress(options.host))
                return usage("--host must be a loopback address (127.x.x.x)");
        } else if (arg == "--delay" && hasValue) {
            if (!parseInteger(argv[++i], 0, 3600000, options.delay))
                return usage("--delay needs milliseconds");
        } else if (arg == "--count" && hasValue) {
            if (!parseInteger(argv[++i], 1, 1000000000, options.count))
                return usage("--count needs a positive number");
        } else if (arg == "--silent" && options.mode == Mode::Ok) {
            options.mode = Mode::Silent;
        } else if (arg == "--reply" && hasValue && options.mode == Mode::Ok) {
            options.mode = Mode::Reply;
            options.reply = argv[++i];
        } else if (arg == "--split" && options.mode == Mode::Ok) {
            options.mode = Mode::Split;
        } else if (arg == "--close" && options.mode == Mode::Ok) {
            options.mode = Mode::Close;
        } else {
            return usage("unknown, repeated or incomplete option " + arg);
        }
    }
    catchStopSignals();
    Counts counts;
    TcpServerSocket listener(static_cast<int32_t>(options.port), 8, 0, options.host.c_str());
    if (listener.failed()) {
        errorLine("varnex-ack: cannot listen on " + options.host + ":" + std::to_string(options.port) +
                  " (is the port in use?)");
        return 1;
    }
    outLine("varnex-ack: listening on " + options.host + ":" + std::to_string(listener.boundPort()) +
            " (Ctrl+C ends)");
    while (!stopRequested() && (options.count == 0 || counts.connections < options.count)) {
        SocketSelector pending(listener, 200u);
        if (pending.failed()) {
            errorLine(std::string("varnex-ack: ") + kSelectFailedText);
            return 1;
        }
        if (!pending.isReady(listener)) continue;
        std::string failure;
        std::unique_ptr<TcpSocket> connection(listener.acceptConnection(&failure));
        if (connection) serve(*connection, options, counts);
        if (!failure.empty()) {
            errorLine("varnex-ack: " + failure);
            return 1;
        }
    }
    outLine("varnex-ack: " + std::to_string(counts.connections) + " connections, " +
            std::to_string(counts.orders) + " orders, " + std::to_string(counts.acknowledged) +
            " acknowledged with OK");
    return 0;
}
