#include "DisplayRetry.h"

#include <QString>
#include <QtGlobal>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {
const char* const attemptVariable = "VOLREN_DISPLAY_ATTEMPT";
constexpr int attempts = 3;

std::vector<std::string> arguments;
std::vector<std::string> environment;
QtMessageHandler previous = nullptr;
bool connectionLost = false;

int Attempt()
{
    const char* value = std::getenv(attemptVariable);
    return value ? std::atoi(value) : 1;
}

[[noreturn]] void StartAgain(int attempt)
{
    std::vector<std::string> variables = environment;
    variables.push_back(std::string(attemptVariable) + "=" + std::to_string(attempt));
    std::vector<char*> argv;
    for (std::string& a : arguments) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& v : variables) {
        envp.push_back(v.data());
    }
    envp.push_back(nullptr);
    ::execve("/proc/self/exe", argv.data(), envp.data());
    std::perror("execve");
    std::_Exit(1);
}

void Handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.contains(QLatin1String("could not connect to display"))) {
        connectionLost = true;
    }
    if (type == QtFatalMsg && connectionLost && Attempt() < attempts) {
        const int next = Attempt() + 1;
        std::fprintf(stderr, "%s: the connection to the display failed; starting again (attempt %d of %d)\n",
                     arguments.empty() ? "volren" : arguments.front().c_str(), next, attempts);
        std::this_thread::sleep_for(std::chrono::milliseconds(300 * next));
        StartAgain(next);
    }
    if (previous) {
        previous(type, context, message);
    }
}
}  // namespace

void RetryLostDisplay(char** argv)
{
    for (char** a = argv; *a; ++a) {
        arguments.emplace_back(*a);
    }
    const std::string prefix = std::string(attemptVariable) + "=";
    for (char** e = environ; *e; ++e) {
        if (std::string(*e).rfind(prefix, 0) != 0) {
            environment.emplace_back(*e);
        }
    }
    previous = qInstallMessageHandler(Handle);
}
