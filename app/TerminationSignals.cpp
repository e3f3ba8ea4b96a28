#include "app/TerminationSignals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "app/Texts.h"

namespace harmolune {

namespace {

int g_pipe[2] = {-1, -1};  // [0] read on the UI thread, [1] written by the handler

void OnSignal(int signalNumber) {
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t n = write(g_pipe[1], &byte, 1);
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pipe) != 0) {
        // SIGTERM and SIGINT then end the program as by default, unsaved.
        const int error = errno;
        std::fprintf(stderr, "%.*s%.*s%s\n", static_cast<int>(texts::kStderrTag.size()),
                     texts::kStderrTag.data(), static_cast<int>(texts::kNoSignalsLine.size()),
                     texts::kNoSignalsLine.data(), std::strerror(error));
        g_pipe[0] = g_pipe[1] = -1;
        return;
    }
    notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::OnReadable);

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    if (g_pipe[0] < 0) {
        return;
    }
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    delete notifier_;
    close(g_pipe[0]);
    close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void TerminationSignals::OnReadable() {
    char byte = 0;
    while (read(g_pipe[0], &byte, 1) == 1) {
        emit Received(static_cast<unsigned char>(byte));
    }
}

}  // namespace harmolune
