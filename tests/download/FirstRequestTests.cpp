// The request numbers of a fresh process. Its own program, so that no other test has
// made a request before.
#include "tests/download/FetchTestSupport.h"

namespace {

using FirstRequest = FetchFixture;

TEST_F(FirstRequest, CarriesNumberOneAndLaterRequestsContinue) {
    ASSERT_EQ(CurrentRequestCounter(), 0);
    const FetchResult first = fetch(tileUrl(1, 1), path(QStringLiteral("A01.jpg")));
    ASSERT_TRUE(first.ok) << first.reason.toStdString();
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests().at(0),
              QStringLiteral("/navegar/asp/mime.aspx?TIPO=6&guid=1&npetic=1&Xmin=585000."
                             "3846153846&Ymin=728000&Xmax=587000.6153846154&Ymax=730000&"
                             "PixAncho=400&PixAlto=400"));

    // Four failures and a success: numbers 2 to 6.
    server.setFault(587000, 728000, TestMapServer::Fault::Http500, 4);
    const FetchResult second = fetch(tileUrl(2, 1), path(QStringLiteral("A02.jpg")));
    ASSERT_TRUE(second.ok) << second.reason.toStdString();

    // The next request of the process, an orthophoto tile, carries 7.
    const FetchResult third = fetch(tileUrl(1, 1, MapKind::Orto), path(QStringLiteral("A03.jpg")));
    ASSERT_TRUE(third.ok) << third.reason.toStdString();
    ASSERT_EQ(server.requests().size(), 7);
    EXPECT_TRUE(server.requests().at(6).contains(QStringLiteral("TIPO=0&guid=7&npetic=7&Xmin=")))
        << server.requests().at(6).toStdString();
    EXPECT_EQ(CurrentRequestCounter(), 7);
}

} // namespace
