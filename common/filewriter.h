#pragma once
// Writing files without making the caller wait for the disk. On a busy disk one fdatasync can take
// hundreds of milliseconds; the window must go on painting and the protocol on talking meanwhile.
// Every file still goes through the atomic writer (common/atomicfile.h): this only decides on which
// thread that happens. What finished is told back on the caller's own thread, in submission order.

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Appends that must reach their file without a gap, such as the records of one log: once one of
// them fails, the later ones are not written and fail with its reason, even when they would fit.
// Once handed to a writer it is touched only where the appends are done.
struct TAppendSeries {
    bool broken = false;
    QString reason;
};

class IFileWriter {
public:
    // ok, and the system's reason when not.
    using Done = std::function<void(bool ok, const QString& reason)>;
    // Runs off the caller's thread: touches nothing but files and what it captured by value.
    using Job = std::function<bool(QString* reason)>;

    virtual ~IFileWriter() = default;
    // Any work on files, in order with everything else submitted.
    virtual void Run(Job job, Done done) = 0;
    // AppendToFile. Appends to the same file that queue up behind a slow disk go in one write.
    virtual void Append(const QString& path, const QByteArray& bytes, Done done,
                        std::shared_ptr<TAppendSeries> series = {}) = 0;
};

// On the caller's thread, at once: done has run when the call returns. The command-line tool has
// no window to keep painting, and tests of the protocol want the disk out of the timing.
class TImmediateFileWriter final : public IFileWriter {
public:
    void Run(Job job, Done done) override;
    void Append(const QString& path, const QByteArray& bytes, Done done,
                std::shared_ptr<TAppendSeries> series = {}) override;
};

// One worker thread. done callbacks wait in a queue until the owner's thread calls DeliverDone;
// notify (called from the worker) tells the owner that there is something to deliver.
class TFileWriterThread final : public IFileWriter {
public:
    explicit TFileWriterThread(std::function<void()> notify);
    // Finishes every job submitted (nothing the user had is dropped), then stops the worker. done
    // callbacks still waiting are not run: their owner is going away.
    ~TFileWriterThread() override;
    TFileWriterThread(const TFileWriterThread&) = delete;
    TFileWriterThread& operator=(const TFileWriterThread&) = delete;

    void Run(Job job, Done done) override;
    void Append(const QString& path, const QByteArray& bytes, Done done,
                std::shared_ptr<TAppendSeries> series = {}) override;

    // Owner's thread: runs the done callbacks of the jobs finished so far.
    void DeliverDone();
    // Owner's thread: waits for every job submitted so far, then delivers. For closing the program.
    void Flush();
    // Runs on the worker before each batch of work; a test stands a slow or stuck disk here.
    void SetBeforeWork(std::function<void()> hook);

private:
    struct Item {
        Job job;          // empty for an append
        QString path;     // append
        QByteArray bytes; // append
        Done done;
        std::shared_ptr<TAppendSeries> series; // append
    };
    struct Finished {
        Done done;
        bool ok;
        QString reason;
    };
    void Loop();
    void Submit(Item item);
    std::vector<Finished> Work(std::vector<Item>& batch);

    std::function<void()> notify_;
    std::mutex m_;
    std::condition_variable cv_;
    std::condition_variable idle_;
    std::deque<Item> queue_;
    std::vector<Finished> finished_;
    std::function<void()> beforeWork_;
    bool busy_ = false;
    bool stop_ = false;
    std::thread worker_;
};
