// The order of the download list's rows and how the two lists show them.
#include "download/downloadlist.h"
#include "download/urlmodel.h"
#include "queue/ui/downloadlistview.h"
#include "queue/ui/listsort.h"

#include <QHeaderView>
#include <QIcon>
#include <QScrollBar>
#include <QTest>

namespace {

using Column = DownloadListModel::Column;

int sign(int v)
{
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

QStringList row(const QString &path, const QString &progress, const QString &size, const QString &received,
                const QString &status = QStringLiteral("N/A"), const QString &url = QString())
{
    return {path, progress, size, received, status, url};
}

// The texts of one column as the view shows them, top to bottom.
// The texts of a column in the order shown; role picks the display text or
// the tooltip (the first column's whole path).
QStringList shownColumn(const DownloadListView &view, int column, int role = Qt::DisplayRole)
{
    QStringList texts;
    const QAbstractItemModel *model = view.model();
    for (int r = 0; r < model->rowCount(); ++r)
        texts.append(model->index(r, column).data(role).toString());
    return texts;
}

void clickHeader(DownloadListView &view, int column)
{
    QHeaderView *header = view.header();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

} // namespace

class TestListSort : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cellOrder_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("expected");

        QTest::newRow("9 KB before 10 KB") << int(Column::Size) << "9.00 KB" << "10.00 KB" << -1;
        QTest::newRow("bytes before KB") << int(Column::Size) << "999 Bytes" << "1.00 KB" << -1;
        QTest::newRow("KB before MB") << int(Column::Size) << "1000.00 KB" << "1.00 MB" << -1;
        QTest::newRow("grouped MB") << int(Column::Size) << "1,024.00 MB" << "999.00 MB" << 1;
        QTest::newRow("N/A before 0 Bytes") << int(Column::Size) << "N/A" << "0 Bytes" << -1;
        QTest::newRow("N/A equals N/A") << int(Column::Size) << "N/A" << "N/A" << 0;
        QTest::newRow("received by value") << int(Column::Received) << "10.00 KB" << "9.00 KB" << 1;
        QTest::newRow("received N/A first") << int(Column::Received) << "1 Bytes" << "N/A" << 1;
        QTest::newRow("9% before 10%") << int(Column::Progress) << "9%" << "10%" << -1;
        QTest::newRow("100% after 99%") << int(Column::Progress) << "100%" << "99%" << 1;
        QTest::newRow("refusal marker is a percentage") << int(Column::Progress) << "0 %" << "5%" << -1;
        QTest::newRow("message before percentages") << int(Column::Progress) << "Connection has timed out."
                                                    << "0%" << -1;
        QTest::newRow("status as text") << int(Column::Status) << "Downloading..." << "Connected" << 1;
        QTest::newRow("status ignores case") << int(Column::Status) << "connected" << "Downloading..." << -1;
        QTest::newRow("url as text") << int(Column::Url) << "http://h/10.zip" << "http://h/9.zip" << -1;
        QTest::newRow("path as text") << int(Column::SavePath) << "/tmp/b" << "/tmp/A" << 1;
        QTest::newRow("size text in a text column") << int(Column::Status) << "9.00 KB" << "10.00 KB" << 1;
    }

    void cellOrder()
    {
        QFETCH(int, column);
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, expected);
        QCOMPARE(sign(compareListCells(column, a, b, QLocale::c())), expected);
        QCOMPARE(sign(compareListCells(column, b, a, QLocale::c())), -expected);
    }

    void sizeTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<double>("bytes"); // -1: no size

        const QLocale german(QLocale::German, QLocale::Germany);
        QTest::newRow("bytes") << "512 Bytes" << QLocale::c() << 512.0;
        QTest::newRow("KB") << "9.50 KB" << QLocale::c() << 9.5 * 1024;
        QTest::newRow("MB grouped") << "1,234.50 MB" << QLocale::c() << 1234.5 * 1048576;
        QTest::newRow("German KB") << "9,50 KB" << german << 9.5 * 1024;
        QTest::newRow("German MB grouped") << "1.234,50 MB" << german << 1234.5 * 1048576;
        QTest::newRow("N/A") << "N/A" << QLocale::c() << -1.0;
        QTest::newRow("unit without number") << " KB" << QLocale::c() << -1.0;
        QTest::newRow("unknown unit") << "3 GB" << QLocale::c() << -1.0;
        QTest::newRow("empty") << "" << QLocale::c() << -1.0;
    }

    void sizeTexts()
    {
        QFETCH(QString, text);
        QFETCH(QLocale, locale);
        QFETCH(double, bytes);
        const std::optional<double> value = sizeValue(text, locale);
        QCOMPARE(value.has_value(), bytes >= 0);
        if (value)
            QCOMPARE(*value, bytes);
    }

    void formattedSizesReadBack()
    {
        for (qint64 bytes : {0LL, 1023LL, 1024LL, 9LL * 1024, 10LL * 1024, 1048576LL, 5LL * 1048576 + 12345}) {
            const std::optional<double> value = sizeValue(FormatSize(bytes));
            QVERIFY2(value.has_value(), qPrintable(FormatSize(bytes)));
            QVERIFY2(std::abs(*value - double(bytes)) <= 0.006 * std::max<double>(1.0, double(bytes)),
                     qPrintable(FormatSize(bytes)));
        }
    }

    void headerClicksSortDescendingThenAscending()
    {
        DownloadListModel model;
        model.addRow(row("/d/a", "10%", "10.00 KB", "1.00 KB"));
        model.addRow(row("/d/b", "0%", "N/A", "N/A"));
        model.addRow(row("/d/c", "9%", "9.00 KB", "900 Bytes"));
        model.addRow(row("/d/d", "100%", "1.00 MB", "1.00 MB"));
        DownloadListView view(model, DownloadListView::Kind::Downloads);
        view.resize(900, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        clickHeader(view, Column::Size);
        QCOMPARE(view.sortOrder(), Qt::DescendingOrder);
        QCOMPARE(shownColumn(view, Column::Size),
                 QStringList({"1.00 MB", "10.00 KB", "9.00 KB", "N/A"}));
        clickHeader(view, Column::Size);
        QCOMPARE(view.sortOrder(), Qt::AscendingOrder);
        QCOMPARE(shownColumn(view, Column::Size),
                 QStringList({"N/A", "9.00 KB", "10.00 KB", "1.00 MB"}));
        QCOMPARE(view.header()->sortIndicatorSection(), int(Column::Size));

        // Another column toggles the order again and sorts by its own values.
        clickHeader(view, Column::Progress);
        QCOMPARE(shownColumn(view, Column::Progress), QStringList({"100%", "10%", "9%", "0%"}));
        clickHeader(view, Column::Received);
        QCOMPARE(shownColumn(view, Column::Received),
                 QStringList({"N/A", "900 Bytes", "1.00 KB", "1.00 MB"}));

        // The list stays sorted as rows come and change.
        model.addRow(row("/d/e", "1%", "2.00 KB", "2.00 KB"));
        QCOMPARE(shownColumn(view, Column::Received),
                 QStringList({"N/A", "900 Bytes", "1.00 KB", "2.00 KB", "1.00 MB"}));
        model.setValue(model.idAt(1), Column::Received, QStringLiteral("3.00 MB"));
        QCOMPARE(shownColumn(view, Column::Received),
                 QStringList({"900 Bytes", "1.00 KB", "2.00 KB", "1.00 MB", "3.00 MB"}));
        // The model's own order is untouched: the windows' rows stay where they are.
        QCOMPARE(model.value(model.idAt(0), Column::SavePath), QStringLiteral("/d/a"));
    }

    void completedListKeepsItsOrder()
    {
        DownloadListModel model;
        model.addRow(row("/d/b", "100%", "10.00 KB", "10.00 KB"), 4);
        model.addRow(row("/d/a", "100%", "9.00 KB", "9.00 KB"), 4);
        DownloadListView view(model, DownloadListView::Kind::Completed);
        view.resize(900, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QVERIFY(!view.header()->sectionsClickable());
        clickHeader(view, Column::Size);
        view.sortByHeader(Column::SavePath);
        QCOMPARE(shownColumn(view, Column::SavePath, Qt::ToolTipRole), QStringList({"/d/b", "/d/a"}));
    }

    // Sideways the lists scroll smoothly over exactly their columns: the
    // scroll bar's range is what does not fit, a step is a few characters,
    // and the far end shows the last column's right edge.
    void listsScrollSidewaysByPixels_data()
    {
        QTest::addColumn<int>("width");
        QTest::newRow("narrow") << 300;
        QTest::newRow("most columns") << 700;
        QTest::newRow("all columns") << 1400;
    }
    void listsScrollSidewaysByPixels()
    {
        QFETCH(int, width);
        DownloadListModel model;
        model.addRow(row("/d/a", "0%", "N/A", "N/A"), 1);
        DownloadListView view(model, DownloadListView::Kind::Downloads);
        view.resize(width, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCoreApplication::sendPostedEvents();
        QScrollBar *bar = view.horizontalScrollBar();
        const int columns = view.header()->length();
        QCOMPARE(view.horizontalScrollMode(), QAbstractItemView::ScrollPerPixel);
        QCOMPARE(bar->maximum(), std::max(0, columns - view.viewport()->width()));
        QCOMPARE(bar->isVisible(), columns > view.viewport()->width());
        QVERIFY2(bar->singleStep() > 0 && bar->singleStep() <= 40, qPrintable(QString::number(bar->singleStep())));
        QCOMPARE(bar->pageStep(), view.viewport()->width());
        bar->setValue(bar->maximum());
        const int urlRight = view.header()->sectionViewportPosition(Column::Url) + view.columnWidth(Column::Url);
        QCOMPARE(urlRight, view.viewport()->width() > columns ? columns : view.viewport()->width());
    }

    // The first column shows the file's name with its whole path in the
    // tooltip; sorting still goes by the whole path.
    void firstColumnShowsTheFileName()
    {
        DownloadListModel model;
        model.addRow(row("/srv/b/zeta.iso", "0%", "N/A", "N/A"), 1);
        model.addRow(row("/srv/z/alpha.iso", "0%", "N/A", "N/A"), 1);
        model.addRow(row("You block this Extenison", "0 %", "N/A", "N/A"), 1);
        DownloadListView view(model, DownloadListView::Kind::Downloads);
        const QAbstractItemModel *shown = view.model();
        QCOMPARE(shown->index(0, Column::SavePath).data().toString(), QStringLiteral("zeta.iso"));
        QCOMPARE(shown->index(0, Column::SavePath).data(Qt::ToolTipRole).toString(), QStringLiteral("/srv/b/zeta.iso"));
        QCOMPARE(shown->index(2, Column::SavePath).data().toString(), QStringLiteral("You block this Extenison"));
        view.sortByHeader(Column::SavePath); // descending by the whole text
        QCOMPARE(shownColumn(view, Column::SavePath),
                 QStringList({"You block this Extenison", "alpha.iso", "zeta.iso"}));
    }

    void progressCells_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("none") << "0%" << 0;
        QTest::newRow("part") << "37%" << 37;
        QTest::newRow("whole") << "100%" << 100;
        QTest::newRow("refused") << "0 %" << -1;
        QTest::newRow("not known") << "N/A" << -1;
        QTest::newRow("too much") << "250%" << 100;
        QTest::newRow("empty") << "" << -1;
    }
    void progressCells()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(progressCellValue(text), value);
    }

    // The "%" cell is drawn as a bar: a full row's cell is filled where an
    // empty row's is not.
    void progressCellIsABar()
    {
        DownloadListModel model;
        model.addRow(row("/d/a", "0%", "N/A", "N/A"), 1);
        model.addRow(row("/d/b", "100%", "1 KB", "1 KB"), 1);
        DownloadListView view(model, DownloadListView::Kind::Downloads);
        view.resize(900, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QImage image = view.viewport()->grab().toImage();
        const QRect empty = view.visualRect(view.model()->index(0, Column::Progress));
        const QRect full = view.visualRect(view.model()->index(1, Column::Progress));
        // Left of the text, inside the bar's frame.
        const QPoint at(empty.left() + 8, empty.center().y());
        const QPoint atFull(full.left() + 8, full.center().y());
        QVERIFY(image.pixelColor(at) != image.pixelColor(atFull));
        QVERIFY(image.pixelColor(atFull) != view.palette().color(QPalette::Base));
    }

    void listsShowTheirColumns_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("first");
        QTest::newRow("download list") << int(DownloadListView::Kind::Downloads) << "Filename";
        QTest::newRow("completed list") << int(DownloadListView::Kind::Completed) << "Complete";
    }

    void listsShowTheirColumns()
    {
        QFETCH(int, kind);
        QFETCH(QString, first);
        DownloadListModel model;
        model.addRow(row("/d/a", "0%", "N/A", "N/A"), 1);
        model.addRow(row("/d/b", "100%", "1.00 KB", "1.00 KB"), 4);
        DownloadListView view(model, DownloadListView::Kind(kind));
        const QAbstractItemModel *shown = view.model();

        const QStringList captions{first, "%", "Size", "Recieved", "Status", "URL", "Date"};
        for (int c = Column::SavePath; c <= Column::Date; ++c)
            QCOMPARE(shown->headerData(c, Qt::Horizontal).toString(), captions.at(c - 1));
        QVERIFY(view.isColumnHidden(Column::MainText));
        QVERIFY(view.isColumnHidden(Column::Date));
        for (int c = Column::SavePath; c < Column::Date; ++c)
            QVERIFY(!view.isColumnHidden(c));
        // The hidden main text takes no room: the first shown column starts at the left edge.
        QCOMPARE(view.header()->sectionPosition(Column::SavePath), 0);

        const int dpi = view.logicalDpiX();
        QCOMPARE(view.columnWidth(Column::SavePath), 3705 * dpi / 1440);
        QCOMPARE(view.columnWidth(Column::Url), 5998 * dpi / 1440);

        for (int c = Column::SavePath; c <= Column::Url; ++c) {
            const auto align = shown->index(0, c).data(Qt::TextAlignmentRole).value<Qt::Alignment>();
            const bool centred = c >= Column::Progress && c <= Column::Status;
            QCOMPARE(bool(align & Qt::AlignHCenter), centred);
            QCOMPARE(bool(align & Qt::AlignLeft), !centred);
        }

        // Distinct, visible icons for a queued row and a completed row, in the first shown column only.
        const QIcon queued = shown->index(0, Column::SavePath).data(Qt::DecorationRole).value<QIcon>();
        const QIcon complete = shown->index(1, Column::SavePath).data(Qt::DecorationRole).value<QIcon>();
        QVERIFY(!queued.isNull() && !complete.isNull());
        QVERIFY(queued.pixmap(16).toImage() != complete.pixmap(16).toImage());
        QVERIFY(!shown->index(0, Column::Size).data(Qt::DecorationRole).isValid());

        QCOMPARE(view.selectionMode(), QAbstractItemView::ExtendedSelection);
        view.setRowSelected(model.idAt(0), true);
        view.setRowSelected(model.idAt(1), true);
        QCOMPARE(view.selectedRowIds(), QList<DownloadListModel::RowId>({model.idAt(0), model.idAt(1)}));
    }
};

QTEST_MAIN(TestListSort)
#include "tst_listsort.moc"
