// A stand-in for the tool's worker commands: prints a scripted console text
// and JSON object, writes a scripted log, then exits with a given status,
// crashes, or hangs. Run as
//   fake_worker script OP...                 the operations from its arguments
//   fake_worker scan --port N --json         the operations from the file
//   fake_worker update --port N ... --json   $ORVANE_FAKE_WORKER_SCRIPTS/<command>-com<N>.txt
// where it also leaves its arguments (.args) and its process id (.pid).
// Operations, one per line or argument (texts take \n \r \b \\ escapes):
//   out:TEXT  err:TEXT  log:TEXT  sleep:MS  exit:CODE  crash  hang
//   abort (std::abort)   throw (an exception nobody catches)
//   args (each argument on a line of its own)   interrupt (Ctrl-C to the parent)
//   hangup (a hang-up to the parent and to itself, as a terminal's hang-up)
//   stubborn (ignores a request to terminate from now on)
//   meet:N (waits until N workers have met in the script folder; exit 9 if not)
//   pid (prints its process id)   logfile:PATH (where log: writes from now on)
//   awaitgone:PID (waits until that process has ended; exit 9 if not)
//   spawn (starts a worker of its own that runs pid, awaitgone:<this one's id>
//          and the rest of the script; prints "spawned" and its id, hangs)
#include "ProcessCheck.h"
#include "platform/WorkerProcess.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

struct Run {
    std::vector<std::string> args;
    std::string folder;
    std::string name;  // <command>-com<N>
    std::string logPath;
};

std::string unescaped(const std::string &text)
{
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            plain += text[i];
            continue;
        }
        const char c = text[++i];
        plain += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 'b' ? '\b' : c;
    }
    return plain;
}

void sleepMs(long ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

[[noreturn]] void hang()
{
    for (;;) {
        sleepMs(1000);
    }
}

void write(FILE *stream, const std::string &text)
{
    fwrite(text.data(), 1, text.size(), stream);
    fflush(stream);
}

// Waits until `count` workers have left their mark in the folder: proof that
// they run side by side.
void meet(const Run &run, int count)
{
    const std::filesystem::path folder(run.folder);
    std::ofstream(folder / ("met-" + run.name)).put('x');
    for (int waited = 0; waited < 10000; waited += 20) {
        int met = 0;
        for (const auto &entry : std::filesystem::directory_iterator(folder)) {
            met += entry.path().filename().string().rfind("met-", 0) == 0 ? 1 : 0;
        }
        if (met >= count) {
            return;
        }
        sleepMs(20);
    }
    std::exit(9);
}

void awaitGone(long pid)
{
    if (!processGoneWithin(pid, 10000)) {
        std::exit(9);
    }
}

// Starts a worker of its own that tells its process id, waits for this one
// to end and runs the rest of the script; passes the id on, then hangs.
[[noreturn]] void spawn(const Run &run, const std::vector<std::string> &rest)
{
    std::vector<std::string> args = {run.args[0], "script", "pid", "awaitgone:" + std::to_string(ownProcessId())};
    args.insert(args.end(), rest.begin(), rest.end());
    const int worker = WorkerProcess_Start(args);
    std::string said;
    for (int waited = 0; worker >= 0 && said.find('\n') == std::string::npos && waited < 10000; waited += 100) {
        WorkerProcess_Collect(100);
        said += WorkerProcess_TakeOutput(worker, WORKER_STDOUT);
    }
    if (said.find('\n') == std::string::npos) {
        std::exit(8);
    }
    write(stdout, "spawned " + said);
    hang();
}

void perform(Run &run, const std::string &op)
{
    const size_t colon = op.find(':');
    const std::string verb = op.substr(0, colon);
    const std::string value = colon == std::string::npos ? "" : op.substr(colon + 1);
    if (verb == "out" || verb == "err") {
        write(verb == "out" ? stdout : stderr, unescaped(value));
    } else if (verb == "logfile") {
        run.logPath = value;
    } else if (verb == "log") {
        std::ofstream(run.logPath, std::ios::app | std::ios::binary) << unescaped(value);
    } else if (verb == "sleep") {
        sleepMs(std::atol(value.c_str()));
    } else if (verb == "exit") {
        std::exit(std::atoi(value.c_str()));
    } else if (verb == "crash") {
        crashNow();
    } else if (verb == "abort") {
        std::abort();
    } else if (verb == "throw") {
        throw std::runtime_error("scripted");
    } else if (verb == "hang") {
        hang();
    } else if (verb == "hangup") {
        hangUpParentAndSelf();
    } else if (verb == "stubborn") {
        ignoreTermination();
    } else if (verb == "awaitgone") {
        awaitGone(std::atol(value.c_str()));
    } else if (verb == "args") {
        for (size_t i = 1; i < run.args.size(); ++i) {
            write(stdout, run.args[i] + "\n");
        }
    } else if (verb == "pid") {
        write(stdout, std::to_string(ownProcessId()) + "\n");
    } else if (verb == "interrupt") {
        interruptParent();
    } else if (verb == "meet") {
        meet(run, std::atoi(value.c_str()));
    }
}

std::string optionValue(const std::vector<std::string> &args, const char *name)
{
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == name) {
            return args[i + 1];
        }
    }
    return "";
}

// The script of a worker command: its port's file in the script folder.
std::vector<std::string> scriptOf(Run &run)
{
    const char *folder = std::getenv("ORVANE_FAKE_WORKER_SCRIPTS");
    std::string port = optionValue(run.args, "--port");
    if (port.empty()) {
        const std::string range = optionValue(run.args, "--ports");
        port = range.substr(0, range.find('-'));
    }
    run.folder = folder != nullptr ? folder : ".";
    run.name = run.args[1] + "-com" + port;
    run.logPath = optionValue(run.args, "--log");
    std::ofstream arguments(run.folder + "/" + run.name + ".args");
    for (size_t i = 1; i < run.args.size(); ++i) {
        arguments << run.args[i] << "\n";
    }
    std::ofstream(run.folder + "/" + run.name + ".pid") << ownProcessId() << "\n";
    std::vector<std::string> ops;
    std::ifstream script(run.folder + "/" + run.name + ".txt");
    for (std::string line; std::getline(script, line);) {
        ops.push_back(line);
    }
    return ops;
}

}  // namespace

int main(int argc, char **argv)
{
#ifdef _WIN32
    // The scripted bytes exactly, as the tool's own console output.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    // As the tool does: an abort reads as a death.
    WorkerProcess_ReportAborts();
    Run run;
    run.args.assign(argv, argv + argc);
    if (argc < 2) {
        return 2;
    }
    const bool inline_ops = std::strcmp(argv[1], "script") == 0;
    const std::vector<std::string> ops =
        inline_ops ? std::vector<std::string>(run.args.begin() + 2, run.args.end()) : scriptOf(run);
    for (auto op = ops.begin(); op != ops.end(); ++op) {
        if (*op == "spawn") {
            spawn(run, std::vector<std::string>(op + 1, ops.end()));
        }
        perform(run, *op);
    }
    return 0;
}
