#include "termination.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The handler may only do async-signal-safe things: it writes the signal's
// number into a socket that the event loop watches.
int g_signalSocket[2] = {-1, -1};
volatile sig_atomic_t g_signalsSeen = 0;

void onTerminationSignal(int signal)
{
    if (g_signalsSeen++ > 0) {
        // Asked again while closing: give up on the clean way.
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    const char number = char(signal);
    const ssize_t written = ::write(g_signalSocket[0], &number, 1);
    (void)written;
}

} // namespace

void onTerminationSignals(std::function<void()> onSignal)
{
    if (g_signalSocket[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalSocket) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalSocket[1], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [notifier, onSignal] {
        char number = 0;
        if (::read(g_signalSocket[1], &number, 1) != 1)
            return;
        notifier->setEnabled(false);
        if (onSignal)
            onSignal();
    });

    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigset_t wanted;
    sigemptyset(&wanted);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        // A signal ignored from the start (nohup) stays ignored.
        struct sigaction previous = {};
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
        sigaddset(&wanted, signal);
    }
    // A parent may have started us with these blocked.
    ::sigprocmask(SIG_UNBLOCK, &wanted, nullptr);
}

bool terminationSignalReceived()
{
    return g_signalsSeen > 0;
}

#else

void onTerminationSignals(std::function<void()>) {}
bool terminationSignalReceived()
{
    return false;
}

#endif
