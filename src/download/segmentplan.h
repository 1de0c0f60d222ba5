#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>

#include <array>
#include <optional>

// One part of the file: bytes [start, end), of which [start, pos) are
// written.
struct SegmentRange {
    qint64 start = 0;
    qint64 end = 0;
    qint64 pos = 0;
    qint64 left() const { return end - pos; }
    bool isDone() const { return pos >= end; }
    bool operator==(const SegmentRange &) const = default;
};

// How a file of known size is split over connections, and how far each part
// is written. Ranges are addressed by a stable id (their index); a split
// shortens a range and appends its upper half as a new one, so an id a
// connection holds never moves.
class SegmentPlan {
public:
    static constexpr int MaxConnections = 6;
    // A range is split for an idle connection only when more than this is left.
    static constexpr qint64 MinSplitLeft = qint64(1) << 20;

    // The number of segments the size table gives a file of `size` bytes;
    // `current` when the size falls in a gap of the table.
    static int segmentsForSize(qint64 size, const std::array<double, 9> &table, int current);
    // Whether the segment question is asked at all: segmenting is on, the
    // file is at least the table's first size, and this start is not a
    // resume (a resumed file continues over one connection from its length).
    static bool offersSegments(bool segmentOn, const std::array<double, 9> &table, qint64 size, bool resuming);

    SegmentPlan() = default;
    // One connection for the whole file, written up to `from`.
    static SegmentPlan single(qint64 size, qint64 from = 0);
    // The first plan of a segmented download: `count` equal parts, the last
    // one taking the remainder.
    static SegmentPlan split(qint64 size, int count);

    qint64 size() const { return m_size; }
    // Connections that may run at once (1 for an unsegmented download).
    int connections() const { return m_connections; }
    bool isSegmented() const { return m_connections > 1; }
    int count() const { return int(m_ranges.size()); }
    const SegmentRange &range(int id) const { return m_ranges.at(id); }

    qint64 received() const;
    bool isComplete() const;
    // Ids of the ranges not written to their end, lowest start first.
    QList<int> incomplete() const;

    // How many of `available` bytes still fit into range `id`.
    qint64 room(int id, qint64 available) const;
    void advance(int id, qint64 bytes);
    // Moves range `id` back by `bytes`, never before its start.
    void rollBack(int id, qint64 bytes);
    void setPosition(int id, qint64 pos);

    // Splits range `id` when more than MinSplitLeft of it is left: its
    // writer keeps `keepShare` of what is left (at least a tenth, at most
    // half) and the rest becomes a new range, unwritten, whose id is
    // returned. Nothing when the range is too small.
    std::optional<int> splitRange(int id, double keepShare = 0.5);
    // Of the ranges with more than MinSplitLeft left, the one that needs the
    // longest to finish at `rates` (bytes per second by range id). A range
    // without a rate counts at the mean of the others; with no rate at all
    // this is the range with the most left.
    std::optional<int> slowestRange(const QHash<int, double> &rates = {}) const;
    // Splits the range with the most left at the middle of what is left.
    std::optional<int> splitLargest();

    // The sidecar: "size N" and one "segment START END DONE" line per range,
    // ranges in file order. A written range is merged into the range after it
    // (their written parts join), so the text stays short after many splits.
    QByteArray serialize() const;
    // Reads a sidecar for a file of `size`: the ranges must tile the file
    // and every position lie in its range. Each unfinished range moves back
    // by `rollback`, within its range.
    static std::optional<SegmentPlan> parse(QByteArrayView text, qint64 size, qint64 rollback);

    static QString sidecarPath(const QString &saveTo);
    // Written through a temporary file and renamed, so a kill leaves the old
    // plan or the new one.
    bool save(const QString &saveTo) const;
    static std::optional<SegmentPlan> load(const QString &saveTo, qint64 size, qint64 rollback);
    static void remove(const QString &saveTo);

    bool operator==(const SegmentPlan &) const = default;

private:
    qint64 m_size = 0;
    int m_connections = 1;
    QList<SegmentRange> m_ranges;
};

// What identifies the server's file a partial download was taken from: its
// size, ETag and Last-Modified as the server sent them, and whether the
// download was split into segments. Kept beside the file
// ("FILE.validators") while it is partial, so a resume can tell the same
// file from a changed one and never splices two.
struct FileValidators {
    qint64 size = -1;
    QByteArray etag;     // as sent, quotes included; empty when none
    QByteArray modified; // the Last-Modified date; empty when none
    bool segmented = false;

    // The value an If-Range header carries: a strong ETag, else the date;
    // empty when neither can be used.
    QByteArray ifRange() const;
    // True when `now` names another file: a different size, ETag or (when
    // neither side has an ETag) date. What one side lacks is not compared.
    bool differsFrom(const FileValidators &now) const;

    // Lines "size N", "etag X", "modified X", "segmented 1"; unknown lines
    // are skipped when read.
    QByteArray serialize() const;
    static FileValidators parse(QByteArrayView text);

    static QString sidecarPath(const QString &saveTo);
    // Written through a temporary file and renamed.
    bool save(const QString &saveTo) const;
    static std::optional<FileValidators> load(const QString &saveTo);
    static void remove(const QString &saveTo);

    bool operator==(const FileValidators &) const = default;
};
