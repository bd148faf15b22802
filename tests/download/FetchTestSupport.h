#pragma once

// A fetcher talking to a TestMapServer on 127.0.0.1, tile URLs as the run builds them, and
// checks of the tile files written.

#include "download/JpegCodec.h"
#include "download/UGatorade.h"
#include "job/DownloadJob.h"
#include "job/MapKinds.h"
#include "tests/download/JpegStructure.h"
#include "tests/support/QuickFetchLimits.h"
#include "tests/support/TestMapServer.h"
#include "tools/MapHttpServer.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <numeric>

struct FetchResult : TileFetchResult {
    int signalCount = 0;
};

class FetchFixture : public ::testing::Test {
protected:
    void SetUp() override {
        // A proxy from the environment must not sit between the test and its own server.
        manager.setProxy(QNetworkProxy::NoProxy);
        ASSERT_TRUE(server.listen());
        ASSERT_TRUE(dir.isValid());
        fetcher.setLimits(QuickFetchLimits());
    }

    // Tile (column, row) of the 2000 m grid whose upper-left corner is 585000 / 730000.
    QString tileUrl(int column, int row, MapKind kind = MapKind::Carto) const {
        DownloadJob job;
        job.kind = kind;
        job.easting = 585000;
        job.northingField = 730000;
        job.tileSize = 2000;
        job.requestPrefix = RequestPrefix(kind, server.baseUrl());
        return BuildTileUrl(job, column, row);
    }

    QString path(const QString& name) const { return dir.filePath(name); }

    FetchResult fetch(const QString& url, const QString& tilePath) {
        QSignalSpy spy(&fetcher, &TileFetcher::finished);
        fetcher.FetchTile(url, tilePath);
        FetchResult result;
        if (!spy.wait(20000)) {
            ADD_FAILURE() << "no answer from the fetcher";
            return result;
        }
        QCoreApplication::processEvents(); // lets a second signal for the same call show up
        static_cast<TileFetchResult&>(result) = spy.at(0).at(0).value<TileFetchResult>();
        result.signalCount = static_cast<int>(spy.count());
        return result;
    }

    // The request numbers the server saw, in order; guid and npetic agree.
    QList<int> requestNumbers() const {
        QList<int> numbers;
        for (const QString& target : server.requests()) {
            const MapTileQuery q = ParseMapTileQuery(target.toLatin1());
            EXPECT_EQ(q.guid, q.npetic) << target.toStdString();
            numbers.append(q.guid);
        }
        return numbers;
    }

    static QList<int> Consecutive(int first, int count) {
        QList<int> list(count);
        std::iota(list.begin(), list.end(), first);
        return list;
    }

    static QByteArray ReadAll(const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    static void WriteFile(const QString& file, const QByteArray& bytes) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    // What the fetcher must write, read back from the file: 400 x 400, one baseline frame,
    // three components, quality 70's tables, painted in `colour`.
    static void ExpectTileFile(const QString& file, const QColor& colour) {
        const JpegStructure s = ReadJpegStructure(ReadAll(file));
        ASSERT_TRUE(s.valid) << file.toStdString();
        EXPECT_EQ(s.frameMarker, 0xC0);
        EXPECT_EQ(s.frameCount, 1);
        EXPECT_EQ(s.components, 3);
        EXPECT_EQ(QSize(s.width, s.height), QSize(400, 400));
        EXPECT_EQ(s.quantTables.value(0), ExpectedQuantTable(70, false));
        EXPECT_EQ(s.quantTables.value(1), ExpectedQuantTable(70, true));
        QImage image;
        QString error;
        ASSERT_TRUE(DecodeJpegFile(file, &image, &error)) << error.toStdString();
        for (const QPoint p : {QPoint(0, 0), QPoint(200, 200), QPoint(399, 399)}) {
            const QRgb rgb = image.pixel(p); // two JPEG generations of a plain fill
            EXPECT_NEAR(qRed(rgb), colour.red(), 8);
            EXPECT_NEAR(qGreen(rgb), colour.green(), 8);
            EXPECT_NEAR(qBlue(rgb), colour.blue(), 8);
        }
    }

    QNetworkAccessManager manager;
    TestMapServer server;
    QTemporaryDir dir;
    JpegEncoder encoder;
    TileFetcher fetcher{&manager};
};
