#include "usbtmctransport.h"

#include <QElapsedTimer>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#if __has_include(<linux/usb/tmc.h>)
#include <linux/usb/tmc.h>
#endif

// What the thread tells the transport.
struct UsbTmcTransport::Report
{
    enum Kind
    {
        Up,
        Down,
        Answer,
        Timeout,
        Written
    };
    Kind kind;
    QByteArray text;
    QString reason;
};

// The state the transport and its thread share. The thread holds it until it
// ends, so the transport may go at any time without waiting for a read that
// blocks in the driver.
struct UsbTmcTransport::Link
{
    struct Job
    {
        QByteArray line;
        bool wantAnswer;
        int timeoutMs;
    };

    QString device;
    std::mutex mutex;
    std::condition_variable wake;
    UsbTmcTransport *owner = nullptr; // null once the transport let go
    bool stop = false;
    std::deque<Job> jobs;
    int wakePipe[2] = {-1, -1}; // interrupts poll() on a terminal

    ~Link()
    {
        for (int fd : wakePipe)
            if (fd >= 0)
                ::close(fd);
    }

    bool stopping()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return stop;
    }

    void post(const Report &report)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!owner)
            return;
        // Events for an object are dropped with it, and owner is cleared
        // under this lock before it goes.
        UsbTmcTransport *target = owner;
        QMetaObject::invokeMethod(
            target, [target, report] { target->take(report); }, Qt::QueuedConnection);
    }
};

namespace {

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

int remainingMs(const QElapsedTimer &clock, int timeoutMs)
{
    return int(qMax<qint64>(0, timeoutMs - clock.elapsed()));
}

// Writes all of data; the errno of a failure, or 0.
int writeAll(int fd, const QByteArray &data)
{
    qint64 done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                pollfd p{fd, POLLOUT, 0};
                ::poll(&p, 1, 100);
                continue;
            }
            return errno;
        }
        done += n;
    }
    return 0;
}

enum class LineResult
{
    Line,
    Timeout,
    Stopped,
    Lost
};

// Reads one line from a terminal within timeoutMs.
LineResult readLine(int fd, int wakeFd, QByteArray &pending, QByteArray *line, int timeoutMs,
                    int *error)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const int end = pending.indexOf('\n');
        if (end >= 0) {
            *line = pending.left(end);
            pending.remove(0, end + 1);
            return LineResult::Line;
        }
        if (pending.size() > 64 * 1024) {
            *line = pending.left(256); // a stream without line ends: junk
            pending.clear();
            return LineResult::Line;
        }
        pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int ready = ::poll(p, 2, remainingMs(clock, timeoutMs));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            *error = errno;
            return LineResult::Lost;
        }
        if (p[1].revents)
            return LineResult::Stopped;
        if (ready == 0)
            return LineResult::Timeout;
        if (p[0].revents & POLLIN) {
            char buffer[4096];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                pending.append(buffer, int(n));
                continue;
            }
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            *error = n < 0 ? errno : 0;
            return LineResult::Lost;
        }
        // Hang-up or error without data: the other side is gone.
        *error = 0;
        return LineResult::Lost;
    }
}

} // namespace

UsbTmcTransport::UsbTmcTransport(const QString &device, QObject *parent)
    : ScpiTransport(device, parent)
{
}

UsbTmcTransport::~UsbTmcTransport()
{
    stopLink();
}

void UsbTmcTransport::startOpen()
{
    auto link = std::make_shared<Link>();
    link->device = address();
    link->owner = this;
    if (::pipe2(link->wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        linkDown(tr("Cannot open %1: %2.").arg(address(), errorText(errno)));
        return;
    }
    m_link = link;
    std::thread(run, link).detach();
}

void UsbTmcTransport::stopLink()
{
    if (!m_link)
        return;
    {
        std::lock_guard<std::mutex> lock(m_link->mutex);
        m_link->owner = nullptr;
        m_link->stop = true;
        m_link->jobs.clear();
        const char byte = 0;
        [[maybe_unused]] const ssize_t n = ::write(m_link->wakePipe[1], &byte, 1);
    }
    m_link->wake.notify_all();
    m_link.reset();
}

void UsbTmcTransport::transmit(const QByteArray &line, bool wantAnswer, int timeoutMs)
{
    if (!m_link)
        return;
    {
        std::lock_guard<std::mutex> lock(m_link->mutex);
        m_link->jobs.push_back(Link::Job{line, wantAnswer, timeoutMs});
    }
    m_link->wake.notify_all();
}

void UsbTmcTransport::take(const Report &report)
{
    switch (report.kind) {
    case Report::Up:
        linkUp();
        break;
    case Report::Down:
        linkDown(report.reason);
        break;
    case Report::Answer:
        answered(report.text);
        break;
    case Report::Timeout:
        timedOut();
        break;
    case Report::Written:
        written();
        break;
    }
}

void UsbTmcTransport::run(const std::shared_ptr<Link> &link)
{
    const QString device = link->device;
    const int fd = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        link->post({Report::Down,
                    {},
                    error == EACCES ? tr("Cannot open %1: %2 (see the manual, \"Meters\", for the "
                                         "permissions).")
                                          .arg(device, errorText(error))
                                    : tr("Cannot open %1: %2.").arg(device, errorText(error))});
        return;
    }
    bool usbtmc = false;
#ifdef USBTMC_IOCTL_GET_TIMEOUT
    __u32 driverTimeout = 0;
    usbtmc = ::ioctl(fd, USBTMC_IOCTL_GET_TIMEOUT, &driverTimeout) == 0;
#endif
    if (!usbtmc && ::isatty(fd)) {
        termios raw{};
        if (::tcgetattr(fd, &raw) == 0) {
            ::cfmakeraw(&raw);
            ::tcsetattr(fd, TCSANOW, &raw);
        }
    }
    link->post({Report::Up, {}, {}});

    QByteArray pending;
    auto lost = [&](int error) {
        link->post({Report::Down,
                    {},
                    error ? tr("Link to %1 lost: %2.").arg(device, errorText(error))
                          : tr("Link to %1 lost: the device hung up.").arg(device)});
    };
    for (;;) {
        Link::Job job;
        {
            std::unique_lock<std::mutex> lock(link->mutex);
            link->wake.wait(lock, [&] { return link->stop || !link->jobs.empty(); });
            if (link->stop)
                break;
            job = link->jobs.front();
            link->jobs.pop_front();
        }
        if (!usbtmc) {
            // Whatever came unasked is no answer to this command.
            ::tcflush(fd, TCIFLUSH);
            pending.clear();
        }
        const int writeError = writeAll(fd, job.line + '\n');
        if (writeError) {
            lost(writeError);
            break;
        }
        if (!job.wantAnswer) {
            link->post({Report::Written, {}, {}});
            continue;
        }
        if (usbtmc) {
#ifdef USBTMC_IOCTL_SET_TIMEOUT
            __u32 ms = __u32(qMax(100, job.timeoutMs)); // the driver's least
            ::ioctl(fd, USBTMC_IOCTL_SET_TIMEOUT, &ms);
            QByteArray buffer(64 * 1024, Qt::Uninitialized);
            const ssize_t n = ::read(fd, buffer.data(), size_t(buffer.size()));
            if (n >= 0) {
                buffer.truncate(int(n));
                while (buffer.endsWith('\n') || buffer.endsWith('\r'))
                    buffer.chop(1);
                link->post({Report::Answer, buffer, {}});
            } else if (errno == ETIMEDOUT) {
                // Clear the device's output, so the answer never comes late.
                ::ioctl(fd, USBTMC_IOCTL_CLEAR);
                link->post({Report::Timeout, {}, {}});
            } else {
                lost(errno);
                break;
            }
#endif
            continue;
        }
        QByteArray line;
        int error = 0;
        LineResult result = readLine(fd, link->wakePipe[0], pending, &line, job.timeoutMs, &error);
        if (result == LineResult::Line) {
            if (line.endsWith('\r'))
                line.chop(1);
            link->post({Report::Answer, line, {}});
            continue;
        }
        if (result == LineResult::Timeout) {
            link->post({Report::Timeout, {}, {}});
            // Back in step as the line transports do: the lines before the
            // sync query's answer are late, and commands waiting meanwhile
            // time out one per timeout.
            error = writeAll(fd, syncQuery() + '\n');
            result = error ? LineResult::Lost : LineResult::Timeout;
            while (!error) {
                result = readLine(fd, link->wakePipe[0], pending, &line, job.timeoutMs, &error);
                if (result == LineResult::Line && isSyncAnswer(line))
                    break;
                if (result == LineResult::Timeout) {
                    bool waiting = false;
                    {
                        std::lock_guard<std::mutex> lock(link->mutex);
                        waiting = !link->jobs.empty();
                        if (waiting)
                            link->jobs.pop_front();
                    }
                    if (waiting)
                        link->post({Report::Timeout, {}, {}});
                } else if (result != LineResult::Line) {
                    break;
                }
            }
            if (result == LineResult::Line)
                continue;
        }
        if (result == LineResult::Lost && !link->stopping())
            lost(error);
        break;
    }
    ::close(fd);
}
