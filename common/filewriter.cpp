#include "common/filewriter.h"

#include "common/atomicfile.h"

namespace {

// Nothing more of a series goes in after a piece of it failed: it would follow a gap.
bool AppendInSeries(const QString& path, const QByteArray& bytes, TAppendSeries* series,
                    QString* reason)
{
    if (series && series->broken) {
        *reason = series->reason;
        return false;
    }
    return AppendToFile(path, bytes, reason);
}

void BreakSeries(TAppendSeries* series, const QString& reason)
{
    if (series && !series->broken) {
        series->broken = true;
        series->reason = reason;
    }
}

} // namespace

void TImmediateFileWriter::Run(Job job, Done done)
{
    QString reason;
    const bool ok = job(&reason);
    if (done)
        done(ok, reason);
}

void TImmediateFileWriter::Append(const QString& path, const QByteArray& bytes, Done done,
                                  std::shared_ptr<TAppendSeries> series)
{
    QString reason;
    const bool ok = AppendInSeries(path, bytes, series.get(), &reason);
    if (!ok)
        BreakSeries(series.get(), reason);
    if (done)
        done(ok, reason);
}

TFileWriterThread::TFileWriterThread(std::function<void()> notify) : notify_(std::move(notify))
{
    worker_ = std::thread([this] { Loop(); });
}

TFileWriterThread::~TFileWriterThread()
{
    {
        std::lock_guard lock(m_);
        stop_ = true;
    }
    cv_.notify_all();
    worker_.join();
}

void TFileWriterThread::Run(Job job, Done done)
{
    Submit(Item{std::move(job), {}, {}, std::move(done), {}});
}

void TFileWriterThread::Append(const QString& path, const QByteArray& bytes, Done done,
                               std::shared_ptr<TAppendSeries> series)
{
    Submit(Item{{}, path, bytes, std::move(done), std::move(series)});
}

void TFileWriterThread::Submit(Item item)
{
    {
        std::lock_guard lock(m_);
        queue_.push_back(std::move(item));
    }
    cv_.notify_all();
}

void TFileWriterThread::SetBeforeWork(std::function<void()> hook)
{
    std::lock_guard lock(m_);
    beforeWork_ = std::move(hook);
}

void TFileWriterThread::DeliverDone()
{
    std::vector<Finished> done;
    {
        std::lock_guard lock(m_);
        done.swap(finished_);
    }
    for (Finished& f : done)
        if (f.done)
            f.done(f.ok, f.reason);
}

void TFileWriterThread::Flush()
{
    {
        std::unique_lock lock(m_);
        idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
    }
    DeliverDone();
}

void TFileWriterThread::Loop()
{
    for (;;) {
        std::vector<Item> batch;
        std::function<void()> hook;
        {
            std::unique_lock lock(m_);
            cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (queue_.empty())
                return; // stopping, and everything is written
            batch.push_back(std::move(queue_.front()));
            queue_.pop_front();
            // Records that came in while the disk was busy go to it together.
            if (!batch.front().job) {
                while (!queue_.empty() && !queue_.front().job &&
                       queue_.front().path == batch.front().path) {
                    batch.push_back(std::move(queue_.front()));
                    queue_.pop_front();
                }
            }
            busy_ = true;
            hook = beforeWork_;
        }
        if (hook)
            hook();
        std::vector<Finished> finished = Work(batch);
        {
            std::lock_guard lock(m_);
            for (Finished& f : finished)
                finished_.push_back(std::move(f));
            busy_ = false;
        }
        idle_.notify_all();
        if (notify_)
            notify_();
    }
}

std::vector<TFileWriterThread::Finished> TFileWriterThread::Work(std::vector<Item>& batch)
{
    std::vector<Finished> out;
    QString reason;
    if (batch.front().job) {
        const bool ok = batch.front().job(&reason);
        out.push_back({std::move(batch.front().done), ok, reason});
        return out;
    }
    QByteArray all;
    bool seriesBroken = false;
    for (const Item& item : batch) {
        all += item.bytes;
        seriesBroken = seriesBroken || (item.series && item.series->broken);
    }
    if (batch.size() > 1 && !seriesBroken && AppendToFile(batch.front().path, all, &reason)) {
        for (Item& item : batch)
            out.push_back({std::move(item.done), true, QString()});
        return out;
    }
    // Whatever still fits goes in, each piece whole and in order; after the first that does not,
    // nothing more, so the file never has a gap.
    bool ok = true;
    for (Item& item : batch) {
        if (ok)
            ok = AppendInSeries(item.path, item.bytes, item.series.get(), &reason);
        if (!ok)
            BreakSeries(item.series.get(), reason);
        out.push_back({std::move(item.done), ok, ok ? QString() : reason});
    }
    return out;
}
