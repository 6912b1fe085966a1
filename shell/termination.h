#pragma once
// A request to end the program from outside (SIGTERM from a logout or `kill`, SIGINT from a
// terminal) is turned into an ordinary event, so the program ends through its normal closing
// sequence and keeps the user's settings.

#include <QObject>

#include <functional>

class QSocketNotifier;

class TTerminationRequests final : public QObject {
public:
    // Installs handlers for SIGTERM and SIGINT; `onRequest` runs on the event loop for each
    // request. One instance per process.
    explicit TTerminationRequests(std::function<void()> onRequest, QObject* parent = nullptr);
    ~TTerminationRequests() override;

private:
    void Drain();

    std::function<void()> onRequest_;
    QSocketNotifier* notifier_ = nullptr;
};
