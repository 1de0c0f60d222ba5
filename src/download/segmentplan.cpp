#include "download/segmentplan.h"

#include "platform/textfile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

int SegmentPlan::segmentsForSize(qint64 size, const std::array<double, 9> &t, int current)
{
    const double n = double(size);
    if (n >= t[0] && n <= t[1])
        return 2;
    if (n >= t[2] && n <= t[3])
        return 3;
    if (n >= t[4] && n <= t[5])
        return 4;
    if (n >= t[6] && n <= t[7])
        return 5;
    if (n >= t[8])
        return 6;
    return current; // in a gap of the table
}

bool SegmentPlan::offersSegments(bool segmentOn, const std::array<double, 9> &table, qint64 size, bool resuming)
{
    return segmentOn && !resuming && double(size) >= table[0];
}

SegmentPlan SegmentPlan::single(qint64 size, qint64 from)
{
    SegmentPlan plan;
    plan.m_size = size;
    plan.m_connections = 1;
    plan.m_ranges = {SegmentRange{0, size, std::clamp<qint64>(from, 0, size)}};
    return plan;
}

SegmentPlan SegmentPlan::split(qint64 size, int count)
{
    count = std::clamp(count, 1, MaxConnections);
    SegmentPlan plan;
    plan.m_size = size;
    plan.m_connections = count;
    const qint64 part = size / count;
    for (int k = 0; k < count; ++k) {
        const qint64 start = part * k;
        const qint64 end = k + 1 == count ? size : part * (k + 1);
        plan.m_ranges.append(SegmentRange{start, end, start});
    }
    return plan;
}

qint64 SegmentPlan::received() const
{
    qint64 total = 0;
    for (const SegmentRange &r : m_ranges)
        total += r.pos - r.start;
    return total;
}

bool SegmentPlan::isComplete() const
{
    return std::all_of(m_ranges.begin(), m_ranges.end(), [](const SegmentRange &r) { return r.isDone(); });
}

QList<int> SegmentPlan::incomplete() const
{
    QList<int> ids;
    for (int id = 0; id < count(); ++id) {
        if (!m_ranges.at(id).isDone())
            ids.append(id);
    }
    std::sort(ids.begin(), ids.end(), [this](int a, int b) { return m_ranges.at(a).start < m_ranges.at(b).start; });
    return ids;
}

qint64 SegmentPlan::room(int id, qint64 available) const
{
    return std::clamp<qint64>(m_ranges.at(id).left(), 0, available);
}

void SegmentPlan::advance(int id, qint64 bytes)
{
    SegmentRange &r = m_ranges[id];
    r.pos = std::min(r.end, r.pos + std::max<qint64>(bytes, 0));
}

void SegmentPlan::rollBack(int id, qint64 bytes)
{
    SegmentRange &r = m_ranges[id];
    r.pos = std::max(r.start, r.pos - std::max<qint64>(bytes, 0));
}

void SegmentPlan::setPosition(int id, qint64 pos)
{
    SegmentRange &r = m_ranges[id];
    r.pos = std::clamp(pos, r.start, r.end);
}

std::optional<int> SegmentPlan::splitRange(int id, double keepShare)
{
    SegmentRange &r = m_ranges[id];
    if (r.left() <= MinSplitLeft)
        return std::nullopt;
    const double share = std::clamp(keepShare, 0.1, 0.5);
    const qint64 middle = r.pos + std::clamp<qint64>(qint64(double(r.left()) * share), 1, r.left() - 1);
    const SegmentRange upper{middle, r.end, middle};
    r.end = middle;
    m_ranges.append(upper);
    return count() - 1;
}

std::optional<int> SegmentPlan::slowestRange(const QHash<int, double> &rates) const
{
    double known = 0;
    int knownCount = 0;
    for (auto it = rates.begin(); it != rates.end(); ++it) {
        if (it.value() > 0) {
            known += it.value();
            ++knownCount;
        }
    }
    const double mean = knownCount > 0 ? known / knownCount : 1.0;
    int slowest = -1;
    double longest = -1;
    for (int id = 0; id < count(); ++id) {
        const qint64 left = m_ranges.at(id).left();
        if (left <= MinSplitLeft)
            continue;
        const double rate = rates.value(id, 0) > 0 ? rates.value(id) : mean;
        const double seconds = double(left) / rate;
        if (seconds > longest) {
            longest = seconds;
            slowest = id;
        }
    }
    if (slowest < 0)
        return std::nullopt;
    return slowest;
}

std::optional<int> SegmentPlan::splitLargest()
{
    const std::optional<int> id = slowestRange();
    return id ? splitRange(*id) : std::nullopt;
}

QByteArray SegmentPlan::serialize() const
{
    QList<SegmentRange> ordered = m_ranges;
    std::sort(ordered.begin(), ordered.end(),
              [](const SegmentRange &a, const SegmentRange &b) { return a.start < b.start; });
    QList<SegmentRange> merged;
    for (const SegmentRange &r : ordered) {
        if (!merged.isEmpty() && merged.last().isDone() && merged.last().end == r.start) {
            merged.last().end = r.end;
            merged.last().pos = r.pos;
        } else {
            merged.append(r);
        }
    }
    QByteArray text = "size " + QByteArray::number(m_size) + "\n";
    for (const SegmentRange &r : merged) {
        text += "segment " + QByteArray::number(r.start) + " " + QByteArray::number(r.end) + " "
                + QByteArray::number(r.pos) + "\n";
    }
    return text;
}

std::optional<SegmentPlan> SegmentPlan::parse(QByteArrayView text, qint64 size, qint64 rollback)
{
    const QList<QByteArray> lines = text.toByteArray().split('\n');
    if (lines.isEmpty() || lines.first() != "size " + QByteArray::number(size))
        return std::nullopt;
    SegmentPlan plan;
    plan.m_size = size;
    qint64 expectedStart = 0;
    // Merging keeps at most one range per connection and a written tail.
    constexpr int MaxLines = MaxConnections + 1;
    for (qsizetype l = 1; l < lines.size(); ++l) {
        if (lines.at(l).isEmpty())
            continue;
        const QList<QByteArray> f = lines.at(l).split(' ');
        if (f.size() != 4 || f.at(0) != "segment" || plan.count() >= MaxLines)
            return std::nullopt;
        bool ok1 = false, ok2 = false, ok3 = false;
        const qint64 start = f.at(1).toLongLong(&ok1);
        const qint64 end = f.at(2).toLongLong(&ok2);
        const qint64 done = f.at(3).toLongLong(&ok3);
        if (!ok1 || !ok2 || !ok3 || start != expectedStart || end <= start || done < start || done > end)
            return std::nullopt;
        SegmentRange r{start, end, done};
        if (!r.isDone())
            r.pos = std::max(start, done - std::max<qint64>(rollback, 0));
        plan.m_ranges.append(r);
        expectedStart = end;
    }
    if (plan.m_ranges.isEmpty() || expectedStart != size)
        return std::nullopt;
    plan.m_connections = std::min(int(plan.m_ranges.size()), int(MaxConnections));
    return plan;
}

QString SegmentPlan::sidecarPath(const QString &saveTo)
{
    return saveTo + QStringLiteral(".segments");
}

bool SegmentPlan::save(const QString &saveTo) const
{
    return !saveTo.isEmpty() && textfile::writeAtomically(sidecarPath(saveTo), serialize());
}

std::optional<SegmentPlan> SegmentPlan::load(const QString &saveTo, qint64 size, qint64 rollback)
{
    QFile file(sidecarPath(saveTo));
    if (saveTo.isEmpty() || !QFileInfo::exists(saveTo) || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return parse(file.read(64 * 1024), size, rollback);
}

void SegmentPlan::remove(const QString &saveTo)
{
    if (!saveTo.isEmpty())
        QFile::remove(sidecarPath(saveTo));
}

QByteArray FileValidators::ifRange() const
{
    if (!etag.isEmpty() && !etag.startsWith("W/"))
        return etag;
    return modified;
}

bool FileValidators::differsFrom(const FileValidators &now) const
{
    if (size >= 0 && now.size >= 0 && size != now.size)
        return true;
    if (!etag.isEmpty() && !now.etag.isEmpty())
        return etag != now.etag;
    return !modified.isEmpty() && !now.modified.isEmpty() && modified != now.modified;
}

QByteArray FileValidators::serialize() const
{
    // Header values never hold line breaks once parsed; strip them anyway so
    // a line stays a line.
    const auto clean = [](QByteArray v) { return v.replace('\r', ' ').replace('\n', ' '); };
    QByteArray out;
    if (size >= 0)
        out += "size " + QByteArray::number(size) + '\n';
    if (!etag.isEmpty())
        out += "etag " + clean(etag) + '\n';
    if (!modified.isEmpty())
        out += "modified " + clean(modified) + '\n';
    if (segmented)
        out += "segmented 1\n";
    return out;
}

FileValidators FileValidators::parse(QByteArrayView text)
{
    FileValidators v;
    for (const QByteArray &line : text.toByteArray().split('\n')) {
        const qsizetype blank = line.indexOf(' ');
        if (blank <= 0)
            continue;
        const QByteArray key = line.left(blank);
        const QByteArray value = line.mid(blank + 1).trimmed();
        if (key == "size") {
            bool ok = false;
            const qint64 n = value.toLongLong(&ok);
            if (ok && n >= 0)
                v.size = n;
        } else if (key == "etag") {
            v.etag = value;
        } else if (key == "modified") {
            v.modified = value;
        } else if (key == "segmented") {
            v.segmented = value == "1";
        }
    }
    return v;
}

QString FileValidators::sidecarPath(const QString &saveTo)
{
    return saveTo + QStringLiteral(".validators");
}

bool FileValidators::save(const QString &saveTo) const
{
    return !saveTo.isEmpty() && textfile::writeAtomically(sidecarPath(saveTo), serialize());
}

std::optional<FileValidators> FileValidators::load(const QString &saveTo)
{
    QFile file(sidecarPath(saveTo));
    if (saveTo.isEmpty() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return parse(file.read(64 * 1024));
}

void FileValidators::remove(const QString &saveTo)
{
    if (!saveTo.isEmpty())
        QFile::remove(sidecarPath(saveTo));
}
