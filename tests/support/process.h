#pragma once
// Other programs run from a test: the command-line tool run to its end, and the simulator or the
// window running beside the test until it is stopped. Real processes and real time: the limits
// only bound a failure.

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

constexpr int kProcessLimitMs = 30'000;

// What a finished run left: the exit status (-1 when it did not end in time and was killed).
struct TRunResult {
    int status = -1;
    QString out, err;
};

inline TRunResult
RunProgram(const QString& program, const QStringList& args,
           const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    TRunResult r;
    if (!p.waitForFinished(kProcessLimitMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.status = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// A program running beside the test, stopped (its input closed, then terminated, then killed)
// when it goes.
class TChildProcess : public QProcess {
public:
    ~TChildProcess() override { Stop(); }
    bool Launch(const QString& program, const QStringList& args)
    {
        start(program, args);
        return waitForStarted(kProcessLimitMs);
    }
    // The first line the program prints (the simulator: its line's path); empty if none came.
    QString FirstLine()
    {
        while (!canReadLine() && state() == QProcess::Running)
            if (!waitForReadyRead(kProcessLimitMs))
                break;
        return QString::fromUtf8(readLine()).trimmed();
    }
    void Stop()
    {
        if (state() == QProcess::NotRunning)
            return;
        closeWriteChannel();
        terminate();
        if (!waitForFinished(5000)) {
            kill();
            waitForFinished(2000);
        }
    }
};
